// The print filter pipeline's COM interfaces, as far as the project's filters
// and filter host use them. MinGW-w64's headers lack them; the interface IDs,
// the method order within each vtable and the calling convention are those of
// the Windows SDK's filterpipeline.h (Microsoft's documentation lists the
// methods alphabetically, which is not the vtable order). Every method is
// STDMETHODCALLTYPE (__stdcall on x86, the one convention on x64). The IIDs
// are inline variables: one object each in the whole program.
#pragma once

#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

// Names in the pipeline's property bag (IPrintPipelinePropertyBag).
#define XPS_FP_PRINTER_NAME L"PrinterName"
#define XPS_FP_JOB_ID L"PrintJobId"
// The job's print ticket, as an IPrintReadStreamFactory.
#define XPS_FP_USER_PRINT_TICKET L"PerUserPrintTicket"
// What a part without a print ticket of its own answers to GetPrintTicket.
#ifndef E_ELEMENT_NOT_FOUND
#define E_ELEMENT_NOT_FOUND HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
#endif

// How a part is compressed in the package the pipeline writes.
enum EXpsCompressionOptions {
    Compression_NotCompressed = 0,
    Compression_Normal = 1,
    Compression_Small = 2,
    Compression_Fast = 3,
};

// How a font part is stored.
enum EXpsFontOptions {
    Font_Normal = 0,
    Font_Obfusticate = 1,
};

// From imgerror.h; the filters only pass it on as a null pointer.
struct IImgErrorInfo;

struct IPartPrintTicket;
struct IPartThumbnail;
struct IXpsPartIterator;

// {4d47a67c-66cc-4430-850e-daf466fe5bc4}
inline constexpr IID IID_IPrintReadStream = {
    0x4d47a67c, 0x66cc, 0x4430, {0x85, 0x0e, 0xda, 0xf4, 0x66, 0xfe, 0x5b, 0xc4}};
struct IPrintReadStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Seek(LONGLONG dlibMove, DWORD dwOrigin, ULONGLONG* plibNewPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadBytes(void* pvBuffer, ULONG cbRequested, ULONG* pcbRead,
                                                BOOL* pbEndOfFile) = 0;
};

// {acb971e3-df8d-4fc2-bee6-0609d15f3cf9}
inline constexpr IID IID_IPrintReadStreamFactory = {
    0xacb971e3, 0xdf8d, 0x4fc2, {0xbe, 0xe6, 0x06, 0x09, 0xd1, 0x5f, 0x3c, 0xf9}};
struct IPrintReadStreamFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream** ppStream) = 0;
};

// {65bb7f1b-371e-4571-8ac7-912f510c1a38}
inline constexpr IID IID_IPrintWriteStream = {
    0x65bb7f1b, 0x371e, 0x4571, {0x8a, 0xc7, 0x91, 0x2f, 0x51, 0x0c, 0x1a, 0x38}};
struct IPrintWriteStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE WriteBytes(const void* pvBuffer, ULONG cbBuffer, ULONG* pcbWritten) = 0;
    virtual void STDMETHODCALLTYPE Close() = 0;
};

// {4daf1e69-81fd-462d-940f-8cd3ddf56fca}
inline constexpr IID IID_IInterFilterCommunicator = {
    0x4daf1e69, 0x81fd, 0x462d, {0x94, 0x0f, 0x8c, 0xd3, 0xdd, 0xf5, 0x6f, 0xca}};
struct IInterFilterCommunicator : public IUnknown {
    // The reader and writer are the interfaces the pipeline configuration
    // names for the filter's <Input> and <Output>.
    virtual HRESULT STDMETHODCALLTYPE RequestReader(void** ppIReader) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestWriter(void** ppIWriter) = 0;
};

// {aa3e4910-5889-4681-91ef-823ad4ed4e44}
inline constexpr IID IID_IPrintPipelineManagerControl = {
    0xaa3e4910, 0x5889, 0x4681, {0x91, 0xef, 0x82, 0x3a, 0xd4, 0xed, 0x4e, 0x44}};
struct IPrintPipelineManagerControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RequestShutdown(HRESULT hrReason, IImgErrorInfo* pReason) = 0;
    virtual HRESULT STDMETHODCALLTYPE FilterFinished() = 0;
};

// {8b8c99dc-7892-4a95-8a04-57422e9fbb47}
inline constexpr IID IID_IPrintPipelinePropertyBag = {
    0x8b8c99dc, 0x7892, 0x4a95, {0x8a, 0x04, 0x57, 0x42, 0x2e, 0x9f, 0xbb, 0x47}};
struct IPrintPipelinePropertyBag : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const wchar_t* pszName, const VARIANT* pVar) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(const wchar_t* pszName, VARIANT* pVar) = 0;
    virtual BOOL STDMETHODCALLTYPE DeleteProperty(const wchar_t* pszName) = 0;
};

// {cdb62fc0-8bed-434e-86fb-a2cae55f19ea}
inline constexpr IID IID_IPrintPipelineFilter = {
    0xcdb62fc0, 0x8bed, 0x434e, {0x86, 0xfb, 0xa2, 0xca, 0xe5, 0x5f, 0x19, 0xea}};
struct IPrintPipelineFilter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InitializeFilter(IInterFilterCommunicator* pINegotiation,
                                                       IPrintPipelinePropertyBag* pIPropertyBag,
                                                       IPrintPipelineManagerControl* pIPipelineControl) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShutdownOperation() = 0;
    virtual HRESULT STDMETHODCALLTYPE StartOperation() = 0;
};

// {b8cf8530-5562-47c4-ab67-b1f69ecf961e}
inline constexpr IID IID_IXpsDocumentProvider = {
    0xb8cf8530, 0x5562, 0x47c4, {0xab, 0x67, 0xb1, 0xf6, 0x9e, 0xcf, 0x96, 0x1e}};
struct IXpsDocumentProvider : public IUnknown {
    // *ppIXpsPart null: the document is complete.
    virtual HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** ppIXpsPart) = 0;
};

struct IXpsDocument;
struct IFixedDocumentSequence;
struct IFixedDocument;
struct IFixedPage;

// {4368d8a2-4181-4a9f-b295-3d9a38bb9ba0}
inline constexpr IID IID_IXpsDocumentConsumer = {
    0x4368d8a2, 0x4181, 0x4a9f, {0xb2, 0x95, 0x3d, 0x9a, 0x38, 0xbb, 0x9b, 0xa0}};
struct IXpsDocumentConsumer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown* pUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument* pIXpsDocument) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    SendFixedDocumentSequence(IFixedDocumentSequence* pIFixedDocumentSequence) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument* pIFixedDocument) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage* pIFixedPage) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseSender() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNewEmptyPart(const wchar_t* uri, REFIID riid, void** ppNewObject,
                                                      IPrintWriteStream** ppWriteStream) = 0;
};

// {e8d907db-62a9-4a95-abe7-e01763dd30f8}
inline constexpr IID IID_IXpsDocument = {
    0xe8d907db, 0x62a9, 0x4a95, {0xab, 0xe7, 0xe0, 0x17, 0x63, 0xdd, 0x30, 0xf8}};
struct IXpsDocument : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetThumbnail(IPartThumbnail** ppThumbnail) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetThumbnail(IPartThumbnail* pThumbnail) = 0;
};

// {8028d181-2c32-4249-8493-1bfb22045574}
inline constexpr IID IID_IFixedDocumentSequence = {
    0x8028d181, 0x2c32, 0x4249, {0x84, 0x93, 0x1b, 0xfb, 0x22, 0x04, 0x55, 0x74}};
struct IFixedDocumentSequence : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* pPrintTicket) = 0;
};

// {f222ca9f-9968-4db9-81bd-abaebf15f93f}
inline constexpr IID IID_IFixedDocument = {
    0xf222ca9f, 0x9968, 0x4db9, {0x81, 0xbd, 0xab, 0xae, 0xbf, 0x15, 0xf9, 0x3f}};
struct IFixedDocument : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* pPrintTicket) = 0;
};

// {36d51e28-369e-43ba-a666-9540c62c3f58}
inline constexpr IID IID_IPartBase = {
    0x36d51e28, 0x369e, 0x43ba, {0xa6, 0x66, 0x95, 0x40, 0xc6, 0x2c, 0x3f, 0x58}};
struct IPartBase : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream** ppStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPartCompression(EXpsCompressionOptions* pCompression) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPartCompression(EXpsCompressionOptions compression) = 0;
};

// {3d9f6448-7e95-4cb5-94fb-0180c2883a57}
inline constexpr IID IID_IFixedPage = {
    0x3d9f6448, 0x7e95, 0x4cb5, {0x94, 0xfb, 0x01, 0x80, 0xc2, 0x88, 0x3a, 0x57}};
struct IFixedPage : public IPartBase {
    virtual HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPagePart(const wchar_t* uri, IUnknown** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriteStream(IPrintWriteStream** ppWriteStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* ppPrintTicket) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPagePart(IUnknown* pUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteResource(const wchar_t* uri) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetXpsPartIterator(IXpsPartIterator** pXpsPartIt) = 0;
};

// {725f2e3c-401a-4705-9de0-fe6f1353b87f}
inline constexpr IID IID_IPartImage = {
    0x725f2e3c, 0x401a, 0x4705, {0x9d, 0xe0, 0xfe, 0x6f, 0x13, 0x53, 0xb8, 0x7f}};
struct IPartImage : public IPartBase {
    virtual HRESULT STDMETHODCALLTYPE GetImageProperties(BSTR* pContentType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetImageContent(const wchar_t* pContentType) = 0;
};

// {e07fe0ab-1124-43d0-a865-e8ffb6a3ea82}
inline constexpr IID IID_IPartFont = {
    0xe07fe0ab, 0x1124, 0x43d0, {0xa8, 0x65, 0xe8, 0xff, 0xb6, 0xa3, 0xea, 0x82}};
struct IPartFont : public IPartBase {
    virtual HRESULT STDMETHODCALLTYPE GetFontProperties(BSTR* pContentType,
                                                        EXpsFontOptions* pFontOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFontContent(const wchar_t* pContentType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFontOptions(EXpsFontOptions options) = 0;
};

// {027ed1c9-ba39-4cc5-aa55-7ec3a0de171a}
inline constexpr IID IID_IPartThumbnail = {
    0x027ed1c9, 0xba39, 0x4cc5, {0xaa, 0x55, 0x7e, 0xc3, 0xa0, 0xde, 0x17, 0x1a}};
struct IPartThumbnail : public IPartBase {
    virtual HRESULT STDMETHODCALLTYPE GetThumbnailProperties(BSTR* pContentType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetThumbnailContent(const wchar_t* pContentType) = 0;
};

// {4a0f50f6-f9a2-41f0-99e7-5ae955be8e9e}
inline constexpr IID IID_IPartPrintTicket = {
    0x4a0f50f6, 0xf9a2, 0x41f0, {0x99, 0xe7, 0x5a, 0xe9, 0x55, 0xbe, 0x8e, 0x9e}};
struct IPartPrintTicket : public IPartBase {};

// {63cca95b-7d18-4762-b15e-98658693d24a}
inline constexpr IID IID_IPartColorProfile = {
    0x63cca95b, 0x7d18, 0x4762, {0xb1, 0x5e, 0x98, 0x65, 0x86, 0x93, 0xd2, 0x4a}};
struct IPartColorProfile : public IPartBase {};

// {16cfce6d-e744-4fb3-b474-f1d54f024a01}
inline constexpr IID IID_IPartResourceDictionary = {
    0x16cfce6d, 0xe744, 0x4fb3, {0xb4, 0x74, 0xf1, 0xd5, 0x4f, 0x02, 0x4a, 0x01}};
struct IPartResourceDictionary : public IPartBase {};

// {0021d3cd-af6f-42ab-9999-14bc82a62d2e}
inline constexpr IID IID_IXpsPartIterator = {
    0x0021d3cd, 0xaf6f, 0x42ab, {0x99, 0x99, 0x14, 0xbc, 0x82, 0xa6, 0x2d, 0x2e}};
struct IXpsPartIterator : public IUnknown {
    virtual void STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Current(BSTR* pUri, IUnknown** ppXpsPart) = 0;
    virtual BOOL STDMETHODCALLTYPE IsDone() = 0;
    virtual void STDMETHODCALLTYPE Next() = 0;
};
