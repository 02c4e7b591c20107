// FolderSecurity: who may do what to a folder, read from its security
// descriptor. Trusted are SYSTEM, Administrators and the account the monitor
// runs as; "others" are every other account or group that an allowing entry
// of the DACL names (deny entries are not counted, so a right somebody else
// may have counts as had; a missing DACL gives everybody everything).
//
// The monitor's own folders are made with SYSTEM and Administrators only:
// no user can give a folder such a list under such an owner, so a folder
// that has one is taken as the monitor's, and is never changed.
#pragma once

#include <string>

#include <windows.h>

class FolderSecurity {
public:
    // From the folder's handle (READ_CONTROL).
    static DWORD Read(HANDLE hFolder, FolderSecurity& security);
    // From a descriptor with owner and DACL; processAccount is the account
    // the monitor runs as (null: none beyond SYSTEM and Administrators).
    static FolderSecurity Of(PSECURITY_DESCRIPTOR pDescriptor, PSID processAccount);

    bool OwnerTrusted() const { return ownerTrusted_; }
    // Others may delete or rename the folder, or give themselves that right.
    bool OthersMayRemove() const { return (others_ & (DELETE | WRITE_DAC | WRITE_OWNER)) != 0; }
    // Others may delete or rename what the folder holds, whatever its own
    // list says (FILE_DELETE_CHILD), or give themselves that right.
    bool OthersMayRemoveWhatItHolds() const {
        return (others_ & (FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER)) != 0;
    }
    // A trusted owner and nobody else with any right: the monitor's list.
    bool IsMonitors() const { return ownerTrusted_ && others_ == 0; }
    // The owner's SID as text, for the event log.
    const std::wstring& Owner() const { return owner_; }

private:
    bool ownerTrusted_ = false;
    ACCESS_MASK others_ = 0;
    std::wstring owner_;
};
