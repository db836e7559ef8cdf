// The media graph's interfaces: samples, allocators, pins, filters, the graph and its control,
// event and window interfaces, and the filter mapper with its setup data.
//
// Every interface is a table of pure virtual operations after the three IUnknown slots; a
// filter module and the program are built separately, so slot order is fixed here.
#pragma once

#include <string>
#include <vector>

#include "platform/com/server.h"
#include "platform/mediagraph/mediatype.h"

struct IBaseFilter;
struct IEnumFilters;
struct IEnumMediaTypes;
struct IEnumPins;
struct IFilterGraph;
struct IMemAllocator;
struct IPin;

using LONG_PTR = std::intptr_t;
using OAHWND = LONG_PTR;
using OAFilterState = LONG;
inline constexpr long OATRUE = -1;
inline constexpr long OAFALSE = 0;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter; // with a reference the caller releases
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph; // with a reference the caller releases
};

struct ALLOCATOR_PROPERTIES {
    long cBuffers;
    long cbBuffer;
    long cbAlign;
    long cbPrefix;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    long Proportion; // 1000 = keep up
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

// Event codes sent to the graph's event sink (IMediaEventSink::Notify).
inline constexpr long EC_COMPLETE = 0x01;
inline constexpr long EC_USERABORT = 0x02;
inline constexpr long EC_ERRORABORT = 0x03;
inline constexpr long EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr long EC_QUALITY_CHANGE = 0x0B;
inline constexpr long EC_DISPLAY_CHANGED = 0x16;

// GetBuffer flags.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
inline constexpr DWORD AM_GBF_NOWAIT = 4;

inline constexpr IID IID_IMediaSample = MakeGuid("56A8689A-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemAllocator = MakeGuid("56A8689C-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemInputPin = MakeGuid("56A8689D-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IPin = MakeGuid("56A86891-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumPins = MakeGuid("56A86892-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumMediaTypes = MakeGuid("89C31040-846B-11CE-97D3-00AA0055595A");
inline constexpr IID IID_IEnumFilters = MakeGuid("56A86893-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaFilter = MakeGuid("56A86899-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IBaseFilter = MakeGuid("56A86895-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterGraph = MakeGuid("56A8689F-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IGraphBuilder = MakeGuid("56A868A9-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaControl = MakeGuid("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEvent = MakeGuid("56A868B6-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEventSink = MakeGuid("56A868A2-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IQualityControl = MakeGuid("56A868A5-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IVideoWindow = MakeGuid("56A868B4-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IBasicVideo = MakeGuid("56A868B5-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterMapper2 = MakeGuid("B79BB0B0-33C1-11D1-ABE1-00A0C905F375");
inline constexpr IID IID_ISpecifyPropertyPages = MakeGuid("B196B28B-BAB4-101A-B69C-00AA00341D07");

struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE** ppBuffer) = 0;
    virtual long GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT IsSyncPoint() = 0; // S_OK or S_FALSE
    virtual HRESULT SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL bIsPreroll) = 0;
    virtual long GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(long lLen) = 0;
    // S_FALSE and null when the type did not change; else a copy the caller frees (DeleteMediaType).
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0; // null clears
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT GetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd) = 0;
    virtual HRESULT SetMediaTime(std::int64_t* pTimeStart, std::int64_t* pTimeEnd) = 0;

protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0; // wakes every GetBuffer waiting, which then fails
    virtual HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                              DWORD dwFlags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* pBuffer) = 0;

protected:
    ~IMemAllocator() = default;
};

struct IPin : IUnknown {
    virtual HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** ppPin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* pInfo) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* pPinDir) = 0;
    virtual HRESULT QueryId(LPWSTR* Id) = 0; // CoTaskMemAlloc'd
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;

protected:
    ~IPin() = default;
};

struct IMemInputPin : IUnknown {
    virtual HRESULT GetAllocator(IMemAllocator** ppAllocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Receive(IMediaSample* pSample) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

protected:
    ~IMemInputPin() = default;
};

struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cPins) = 0;
    virtual HRESULT Reset() = 0;

protected:
    ~IEnumPins() = default;
};

// Types handed out are CreateMediaType copies the caller frees with DeleteMediaType.
struct IEnumMediaTypes : IUnknown {
    virtual HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT Reset() = 0;

protected:
    ~IEnumMediaTypes() = default;
};

struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cFilters) = 0;
    virtual HRESULT Reset() = 0;

protected:
    ~IEnumFilters() = default;
};

struct IMediaFilter : IUnknown {
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;
    virtual HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;

protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
    virtual HRESULT FindPin(LPCWSTR Id, IPin** ppPin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* pInfo) = 0;
    // The graph is not referenced (it owns the filter); null leaves the graph.
    virtual HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) = 0;

protected:
    ~IBaseFilter() = default;
};

struct IQualityControl : IUnknown {
    virtual HRESULT Notify(IBaseFilter* pSelf, Quality q) = 0;
    virtual HRESULT SetSink(IQualityControl* piqc) = 0;

protected:
    ~IQualityControl() = default;
};

struct IMediaEventSink : IUnknown {
    virtual HRESULT Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;

protected:
    ~IMediaEventSink() = default;
};

struct IFilterGraph : IUnknown {
    virtual HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    virtual HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Reconnect(IPin* ppin) = 0;
    virtual HRESULT Disconnect(IPin* ppin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    // Directly, else through filters in between (from the graph, then registered ones by merit).
    virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    // Connects the output pin onwards until every stream ends in a filter without output pins.
    virtual HRESULT Render(IPin* ppinOut) = 0;
    virtual HRESULT Abort() = 0;

protected:
    ~IGraphBuilder() = default;
};

struct IMediaControl : IUnknown {
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT StopWhenReady() = 0;

protected:
    ~IMediaControl() = default;
};

// Events queued by the graph's event sink, read by the application.
struct IMediaEvent : IUnknown {
    // Waits up to msTimeout (INFINITE allowed); E_ABORT when no event came in time.
    virtual HRESULT GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, long msTimeout) = 0;
    // Waits for EC_COMPLETE, EC_USERABORT or EC_ERRORABORT; E_ABORT on time-out.
    virtual HRESULT WaitForCompletion(long msTimeout, long* pEvCode) = 0;
    virtual HRESULT FreeEventParams(long lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;

protected:
    ~IMediaEvent() = default;
};

// The renderer's window, reached through the graph.
struct IVideoWindow : IUnknown {
    virtual HRESULT put_Caption(LPCWSTR strCaption) = 0;
    virtual HRESULT put_WindowStyle(long WindowStyle) = 0;
    virtual HRESULT get_WindowStyle(long* WindowStyle) = 0;
    virtual HRESULT put_Visible(long Visible) = 0; // OATRUE / OAFALSE
    virtual HRESULT get_Visible(long* pVisible) = 0;
    virtual HRESULT put_Owner(OAHWND Owner) = 0;
    virtual HRESULT get_Owner(OAHWND* Owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND Drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* Drain) = 0;
    virtual HRESULT put_FullScreenMode(long FullScreenMode) = 0;
    virtual HRESULT get_FullScreenMode(long* FullScreenMode) = 0;
    virtual HRESULT SetWindowPosition(long Left, long Top, long Width, long Height) = 0;
    virtual HRESULT GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) = 0;

protected:
    ~IVideoWindow() = default;
};

struct IBasicVideo : IUnknown {
    virtual HRESULT get_SourceWidth(long* pSourceWidth) = 0;
    virtual HRESULT get_SourceHeight(long* pSourceHeight) = 0;
    virtual HRESULT GetVideoSize(long* pWidth, long* pHeight) = 0;
    virtual HRESULT SetSourcePosition(long Left, long Top, long Width, long Height) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    virtual HRESULT SetDestinationPosition(long Left, long Top, long Width, long Height) = 0;
    virtual HRESULT GetDestinationPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) = 0;
    virtual HRESULT SetDefaultDestinationPosition() = 0;
    // The current picture as a packed DIB (header, then pixels); *pBufferSize in, size needed out.
    virtual HRESULT GetCurrentImage(long* pBufferSize, long* pDIBImage) = 0;

protected:
    ~IBasicVideo() = default;
};

struct CAUUID {
    ULONG cElems;
    GUID* pElems; // CoTaskMemAlloc'd
};

struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pPages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

// Filter setup data: what the filter mapper keeps of a registered filter.
inline constexpr DWORD MERIT_PREFERRED = 0x800000;
inline constexpr DWORD MERIT_NORMAL = 0x600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
inline constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
inline constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

struct REGPINTYPES {
    const CLSID* clsMajorType; // null or GUID_NULL: any
    const CLSID* clsMinorType;
};

struct REGFILTERPINS {
    LPCWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    LPCWSTR strConnectsToPin;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
};

struct REGFILTER2 {
    DWORD dwVersion; // 1
    DWORD dwMerit;
    ULONG cPins;
    const REGFILTERPINS* rgPins;
};

using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    LPCWSTR strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};

// One registered filter as the mapper reports it.
struct REGFILTER_INFO {
    CLSID clsid;
    std::u16string strName;
    DWORD dwMerit;
};

// The registered filters, kept in the class registry (key "Filters\{clsid}").
struct IFilterMapper2 : IUnknown {
    virtual HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, const REGFILTER2* prf2) = 0;
    virtual HRESULT UnregisterFilter(REFCLSID Filter) = 0;
    // Filters of at least dwMerit with an input pin taking one of the given types, given as
    // cInputTypes pairs (major, minor) in pInputTypes (GUID_NULL matches anything; a null
    // array: any input), highest merit first. With bWantOutputs, only filters with an
    // output pin. The caller frees nothing: *pResult is filled.
    virtual HRESULT EnumMatchingFilters(std::vector<REGFILTER_INFO>* pResult, DWORD dwMerit,
                                        BOOL bWantOutputs, DWORD cInputTypes, const GUID* pInputTypes) = 0;

protected:
    ~IFilterMapper2() = default;
};
