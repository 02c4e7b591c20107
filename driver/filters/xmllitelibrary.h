// XmlLite readers and writers over markup in memory. xmllite.dll is loaded
// on first use from the system directory (SystemLibrary): the Windows XP
// generation has it only with later updates, so the filters do not import it;
// where it is missing, a filter that must rewrite a page fails the job with
// the load's error instead of the whole DLL failing to load.
#pragma once

#include <string>

#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>
#include <xmllite.h>

// A reader over markup that stays alive and unchanged while the reader reads it.
HRESULT CreateMarkupReader(const std::string& markup, Microsoft::WRL::ComPtr<IXmlReader>& reader);
// A writer that appends UTF-8 markup to *output, which outlives it.
HRESULT CreateMarkupWriter(std::string* output, Microsoft::WRL::ComPtr<IXmlWriter>& writer);
