#include "WebHost.h"

// clang-format off
#include <ole2.h>
#include <ocidl.h>
#include <exdisp.h>
#include <exdispid.h>
// clang-format on

#include <cstdio>
#include <exception>

namespace win32ui {

namespace {
// CLSID_HTMLDocument, the HTML engine's document (mingw-w64's uuid library lacks it).
constexpr CLSID kHtmlDocument = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

struct Variant {
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT v;
};

/// An event's argument at position (0: the first one declared) as type; false when it is
/// missing or cannot be had as that type. Invoke passes the arguments in reverse order, an
/// out argument by reference.
bool argument(const DISPPARAMS* params, UINT position, VARTYPE type, Variant& out)
{
    if (params == nullptr || position >= params->cArgs) {
        return false;
    }
    VARIANT& in = params->rgvarg[params->cArgs - 1 - position];
    return SUCCEEDED(VariantChangeType(&out.v, &in, 0, type));
}

/// A COM object of this program implementing Interfaces, counted from 1 at creation and
/// deleted at its last Release.
template <typename... Interfaces> class ComObject : public Interfaces... {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

protected:
    virtual ~ComObject() = default;

private:
    long m_refs = 1;
};

std::wstring textOf(BSTR text)
{
    return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

} // namespace

// The container side that the WebBrowser control needs for in-place activation: a client
// site, an in-place site and a frame, all answering for one window.
class WebHost::Site final : public ComObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame> {
public:
    Site(HWND window, const RECT& r) : m_window(window), m_rect(r) {}

    IOleObject* object = nullptr;
    /// The control's object that takes the page's keys while the page is UI-active.
    IOleInPlaceActiveObject* active = nullptr;
    void setRect(const RECT& r) { m_rect = r; }
    HWND window() const { return m_window; }
    RECT rect() const { return m_rect; }

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
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override
    {
        if (object != nullptr) {
            object->AddRef();
        }
        if (active != nullptr) {
            active->Release();
        }
        active = object;
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
};

// The receiver of the control's events. DWebBrowserEvents2 is a dispatch interface: the
// control calls Invoke with the event's DISPID, so only IDispatch is implemented.
class WebHost::Sink final : public ComObject<IDispatch> {
public:
    explicit Sink(WebHost& host) : m_host(&host) {}
    /// After this the events reach nobody (the control may still hold the sink a while).
    void detach() { m_host = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // IDispatch: called by DISPID only, so no type information and no names.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        // No exception may cross into the control; the browser window skips a failed step.
        try {
            dispatch(id, params);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "torvane: web view event %ld: %s\n", static_cast<long>(id),
                         e.what());
        } catch (...) {
            std::fprintf(stderr, "torvane: web view event %ld failed\n", static_cast<long>(id));
        }
        return S_OK;
    }

private:
    void dispatch(DISPID id, const DISPPARAMS* params)
    {
        if (m_host == nullptr) {
            return;
        }
        // Each handler is called through a copy: it may replace the host's handlers.
        switch (id) {
        case DISPID_COMMANDSTATECHANGE: {
            Variant command;
            Variant enable;
            const auto handler = m_host->handlers.CommandStateChange;
            if (handler && argument(params, 0, VT_I4, command) &&
                argument(params, 1, VT_BOOL, enable)) {
                handler(command.v.lVal, enable.v.boolVal != VARIANT_FALSE);
            }
            break;
        }
        case DISPID_DOWNLOADCOMPLETE: {
            const auto handler = m_host->handlers.DownloadComplete;
            if (handler) {
                handler();
            }
            break;
        }
        case DISPID_DOCUMENTCOMPLETE: {
            Variant url;
            const auto handler = m_host->handlers.DocumentComplete;
            if (handler) {
                handler(argument(params, 1, VT_BSTR, url) ? textOf(url.v.bstrVal) : std::wstring());
            }
            break;
        }
        case DISPID_BEFORENAVIGATE2: {
            Variant url;
            const auto handler = m_host->handlers.BeforeNavigate2;
            if (handler) {
                handler(argument(params, 1, VT_BSTR, url) ? textOf(url.v.bstrVal) : std::wstring());
            }
            break;
        }
        default:
            break;
        }
    }

    WebHost* m_host;
};

WebHost::~WebHost()
{
    close();
}

void WebHost::close()
{
    if (m_events != nullptr) {
        m_events->Unadvise(m_cookie);
        m_events->Release();
        m_events = nullptr;
    }
    if (m_sink != nullptr) {
        m_sink->detach();
        m_sink->Release();
        m_sink = nullptr;
    }
    if (m_browser != nullptr) {
        m_browser->Release();
        m_browser = nullptr;
    }
    if (m_site != nullptr) {
        // The active object holds the site: let go of it first.
        if (m_site->active != nullptr) {
            m_site->active->Release();
            m_site->active = nullptr;
        }
        if (m_site->object != nullptr) {
            m_site->object->Close(OLECLOSE_NOSAVE);
            m_site->object->SetClientSite(nullptr);
            m_site->object->Release();
        }
        m_site->Release();
        m_site = nullptr;
    }
}

bool WebHost::create(HWND parent, long& error, Engine engine)
{
    RECT r{};
    GetClientRect(parent, &r);
    m_site = new Site(parent, r);
    // The WebBrowser control can exist without the HTML engine that draws its pages (Wine
    // without its Gecko engine): it then takes every address and shows nothing. Ask for the
    // engine's document first, so that such a view is never offered.
    if (engine == Engine::Required) {
        IUnknown* document = nullptr;
        const HRESULT hr = CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IUnknown, reinterpret_cast<void**>(&document));
        if (FAILED(hr)) {
            error = hr;
            return false;
        }
        document->Release();
    }
    IOleObject* object = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
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
    if (SUCCEEDED(hr)) {
        hr = subscribe();
    }
    error = hr;
    if (FAILED(hr)) {
        // A view whose events never come would leave the buttons and the title wrong for good;
        // the window then hands pages to the default browser instead.
        close();
        return false;
    }
    return true;
}

long WebHost::subscribe()
{
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = m_browser->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(&container));
    if (FAILED(hr)) {
        return hr;
    }
    hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &m_events);
    container->Release();
    if (FAILED(hr)) {
        m_events = nullptr;
        return hr;
    }
    m_sink = new Sink(*this);
    DWORD cookie = 0;
    hr = m_events->Advise(m_sink, &cookie);
    if (FAILED(hr)) {
        m_events->Release();
        m_events = nullptr;
        return hr;
    }
    m_cookie = cookie;
    return S_OK;
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

namespace {

std::wstring readText(IWebBrowser2* browser, HRESULT (STDMETHODCALLTYPE IWebBrowser2::*get)(BSTR*))
{
    BSTR text = nullptr;
    if (browser == nullptr || FAILED((browser->*get)(&text))) {
        return {};
    }
    std::wstring result = textOf(text);
    SysFreeString(text);
    return result;
}

} // namespace

std::wstring WebHost::locationURL() const
{
    return readText(m_browser, &IWebBrowser2::get_LocationURL);
}

std::wstring WebHost::locationName() const
{
    return readText(m_browser, &IWebBrowser2::get_LocationName);
}

bool WebHost::busy() const
{
    VARIANT_BOOL loading = VARIANT_FALSE;
    if (m_browser == nullptr || FAILED(m_browser->get_Busy(&loading))) {
        return false;
    }
    return loading != VARIANT_FALSE;
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

bool WebHost::translateKey(MSG& msg)
{
    if (m_site == nullptr || m_site->active == nullptr || msg.message < WM_KEYFIRST ||
        msg.message > WM_KEYLAST) {
        return false;
    }
    const HWND view = m_site->window();
    if (msg.hwnd != view && !IsChild(view, msg.hwnd)) {
        return false;
    }
    // Held for the call: the page may close its window, and with it the control.
    IOleInPlaceActiveObject* active = m_site->active;
    active->AddRef();
    const HRESULT hr = active->TranslateAccelerator(&msg);
    active->Release();
    return hr == S_OK;
}

void WebHost::focus()
{
    // The control gives the focus to a window of its own; should it give it back to the view's
    // window, the activation is not asked for again.
    if (m_site == nullptr || m_site->object == nullptr || m_focusing) {
        return;
    }
    m_focusing = true;
    RECT r = m_site->rect();
    m_site->object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_site, 0, m_site->window(), &r);
    m_focusing = false;
}

IOleInPlaceFrame* WebHost::frame() const
{
    return m_site;
}

bool WebHost::requestEdgeMode()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        std::fprintf(stderr, "torvane: the program's file name is unknown (%lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const std::wstring full(path, length);
    const std::wstring name = full.substr(full.find_last_of(L"\\/") + 1);
    // The user's own key: the program needs no administrator, and no other program's value
    // is touched.
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(
        HKEY_CURRENT_USER,
        L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION",
        0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        const DWORD edge = 11001; // IE11 edge mode, whatever the page's DOCTYPE
        status = RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&edge), sizeof edge);
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "torvane: cannot ask for the web view's edge mode (%ld)\n",
                     static_cast<long>(status));
        return false;
    }
    return true;
}

} // namespace win32ui
