// Part names of a package and the references markup makes to them. Names
// compare as the packaging conventions say: percent-encoding decoded, ASCII
// case ignored.
#pragma once

#include <string>

namespace xps {

// The part name with percent-encoding decoded (UTF-8 under it), so that
// "/a%20b.xml" and "/a b.xml" name one part.
std::wstring DecodePartName(const std::wstring& name);
// The form two part names compare equal in: decoded, ASCII lower case.
std::wstring PartKey(const std::wstring& name);
// A ZIP item name for a part name: no leading slash, percent-encoded
// where the name has what a URI cannot hold.
std::string ItemNameOf(const std::wstring& partName);

// A reference with a scheme ("http:", "file:") or a network path: it leaves
// the package.
bool IsExternalReference(const std::wstring& reference);
// Resolves a reference made in the part baseUri ("../Resources/a.png" in
// "/Documents/1/Pages/1.fpage"); an absolute one is returned normalised, a
// markup extension ("{StaticResource k}") or an external one as it is.
std::wstring ResolvePartUri(const std::wstring& baseUri, const std::wstring& reference);
// "/a/b.fpage" -> "/a/_rels/b.fpage.rels"; "/" -> "/_rels/.rels".
std::wstring RelationshipsPartOf(const std::wstring& partName);

}  // namespace xps
