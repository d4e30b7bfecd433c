#include "WebHost.h"

// clang-format off
#include <ole2.h>
#include <exdisp.h>
// clang-format on

namespace win32ui {

namespace {
// CLSID_HTMLDocument, the HTML engine's document (mingw-w64's uuid library lacks it).
constexpr CLSID kHtmlDocument = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
} // namespace

// The container side that the WebBrowser control needs for in-place activation: a client
// site, an in-place site and a frame, all answering for one window.
class WebHost::Site final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    Site(HWND window, const RECT& r) : m_window(window), m_rect(r) {}

    IOleObject* object = nullptr;
    void setRect(const RECT& r) { m_rect = r; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *out = static_cast<IOleInPlaceFrame*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (both the in-place site's and the frame's)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override
    {
        *out = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT position, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override
    {
        *frame = this;
        AddRef();
        *doc = nullptr;
        *position = m_rect;
        *clip = m_rect;
        info->cb = sizeof *info;
        info->fMDIApp = FALSE;
        info->hwndFrame = GetAncestor(m_window, GA_ROOT);
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT r) override
    {
        m_rect = *r;
        return S_OK;
    }

    // IOleInPlaceUIWindow
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override
    {
        return S_OK;
    }

    // IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND m_window;
    RECT m_rect;
    long m_refs = 1;
};

WebHost::~WebHost()
{
    if (m_browser != nullptr) {
        m_browser->Release();
    }
    if (m_site != nullptr) {
        if (m_site->object != nullptr) {
            m_site->object->Close(OLECLOSE_NOSAVE);
            m_site->object->SetClientSite(nullptr);
            m_site->object->Release();
        }
        m_site->Release();
    }
}

bool WebHost::create(HWND parent, long& error)
{
    RECT r{};
    GetClientRect(parent, &r);
    m_site = new Site(parent, r);
    // The WebBrowser control can exist without the HTML engine that draws its pages (Wine
    // without its Gecko engine): it then takes every address and shows nothing. Ask for the
    // engine's document first, so that such a view is never offered.
    IUnknown* document = nullptr;
    HRESULT hr = CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&document));
    if (FAILED(hr)) {
        error = hr;
        return false;
    }
    document->Release();
    IOleObject* object = nullptr;
    hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                          reinterpret_cast<void**>(&object));
    if (SUCCEEDED(hr)) {
        m_site->object = object;
        hr = object->SetClientSite(m_site);
    }
    if (SUCCEEDED(hr)) {
        OleSetContainedObject(object, TRUE);
        hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_site, 0, parent, &r);
    }
    if (SUCCEEDED(hr)) {
        hr = object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&m_browser));
    }
    error = hr;
    return SUCCEEDED(hr);
}

long WebHost::navigate(const std::wstring& url)
{
    if (m_browser == nullptr) {
        return E_POINTER;
    }
    BSTR address = SysAllocString(url.c_str());
    VARIANT empty;
    VariantInit(&empty);
    const HRESULT hr = m_browser->Navigate(address, &empty, &empty, &empty, &empty);
    SysFreeString(address);
    return hr;
}

void WebHost::goBack()
{
    if (m_browser != nullptr) {
        m_browser->GoBack();
    }
}

void WebHost::goForward()
{
    if (m_browser != nullptr) {
        m_browser->GoForward();
    }
}

void WebHost::refresh()
{
    if (m_browser != nullptr) {
        m_browser->Refresh();
    }
}

void WebHost::place(const RECT& r)
{
    if (m_site == nullptr || m_site->object == nullptr) {
        return;
    }
    m_site->setRect(r);
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(m_site->object->QueryInterface(IID_IOleInPlaceObject,
                                                 reinterpret_cast<void**>(&inPlace)))) {
        inPlace->SetObjectRects(&r, &r);
        inPlace->Release();
    }
}

} // namespace win32ui
