// XmlLite, loaded on first use from the system directory by its full path.
// The Windows XP generation has xmllite.dll only with later updates, so the
// filters do not import it: where it is missing, a filter that needs to
// rewrite a page fails the job with the load's error instead of the DLL
// failing to load at all. The full path keeps a planted DLL out.
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
