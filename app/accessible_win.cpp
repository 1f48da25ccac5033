#include "app/accessible_win.h"

#include <oleacc.h>

#include <cmath>
#include <vector>

#include "app/accessible_model.h"
#include "app/commands_win.h"
#include "app/focus.h"
#include "app/hit_test.h"
#include "app/window_state_win.h"
#include "common/handles_win.h"
#include "common/system_libraries_win.h"
#include "common/text_win.h"

namespace {

// The one type here that derives from anything: MSAA hands readers a COM interface, and COM
// interfaces are implemented by deriving from them, like the graphics library's wrappers.
// Children are plain child ids into the current screen's elements, read afresh on every call,
// so the object never holds a stale view and outliving the window only makes it answer
// E_FAIL.
struct InstallerAccessible final : IAccessible {
    explicit InstallerAccessible(HWND w) : window(w) {}

    LONG refs = 1;
    HWND window;

    InstallerState* State() const { return IsWindow(window) ? StateOf(window) : nullptr; }

    bool Elements(std::vector<AccessibleElement>* out) const {
        InstallerState* state = State();
        if (!state) return false;
        *out = AccessibleElements(*state, SnapshotProgress(*state));
        return true;
    }

    bool HasFocus() const { return GetFocus() == window; }

    // S_OK with the element, S_FALSE for the object itself, E_INVALIDARG for anything else.
    HRESULT Child(const VARIANT& child, std::vector<AccessibleElement>* elements,
                  const AccessibleElement** element) const {
        *element = nullptr;
        if (child.vt != VT_I4) return E_INVALIDARG;
        if (!Elements(elements)) return E_FAIL;
        if (child.lVal == CHILDID_SELF) return S_FALSE;
        *element = FindAccessibleChild(*elements, child.lVal);
        return *element ? S_OK : E_INVALIDARG;
    }

    static HRESULT Text(const std::u16string& text, BSTR* out) {
        *out = nullptr;
        if (text.empty()) return S_FALSE;
        *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    static HRESULT NoText(BSTR* out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return S_FALSE;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) ||
            iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs);
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: readers use the IAccessible methods directly; scripting access is not offered.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!IsWindow(window)) return E_FAIL;
        return syslib::CreateStdAccessibleObject(window, OBJID_WINDOW, __uuidof(IDispatch),
                                                 reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        std::vector<AccessibleElement> elements;
        if (!Elements(&elements)) return E_FAIL;
        *count = static_cast<long>(elements.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        // Elements are simple children without objects of their own.
        return hr == S_OK ? S_FALSE : (hr == S_FALSE ? E_INVALIDARG : hr);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (hr == S_FALSE) return Text(FromWide(kWindowTitle), name);
        return FAILED(hr) ? hr : Text(element->name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (hr == S_FALSE) return S_FALSE;
        return FAILED(hr) ? hr : Text(element->value, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* out) override {
        return NoText(out);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (FAILED(hr)) return hr;
        role->vt = VT_I4;
        role->lVal = hr == S_FALSE ? ROLE_SYSTEM_CLIENT : MsaaRole(element->role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) return E_POINTER;
        VariantInit(state);
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (FAILED(hr)) return hr;
        state->vt = VT_I4;
        if (hr == S_FALSE) {
            state->lVal = STATE_SYSTEM_FOCUSABLE | (HasFocus() ? STATE_SYSTEM_FOCUSED : 0);
            return S_OK;
        }
        const uint32_t bits = element->states;
        long msaa = 0;
        if (bits & kAccessibleFocusable) msaa |= STATE_SYSTEM_FOCUSABLE;
        // A control is focused only while its window holds the keyboard focus.
        if ((bits & kAccessibleFocused) && HasFocus()) msaa |= STATE_SYSTEM_FOCUSED;
        if (bits & kAccessibleChecked) msaa |= STATE_SYSTEM_CHECKED;
        if ((bits & kAccessibleUnavailable) || !IsWindowEnabled(window))
            msaa |= STATE_SYSTEM_UNAVAILABLE;
        if (bits & kAccessibleReadOnly) msaa |= STATE_SYSTEM_READONLY;
        state->lVal = msaa;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return NoText(out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (topic) *topic = 0;
        return NoText(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override {
        return NoText(out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        std::vector<AccessibleElement> elements;
        if (!Elements(&elements)) return E_FAIL;
        if (!HasFocus()) return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        for (const AccessibleElement& e : elements)
            if (e.states & kAccessibleFocused) focus->lVal = e.childId;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!action) return E_POINTER;
        *action = nullptr;
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (hr == S_FALSE) return S_FALSE;
        return FAILED(hr) ? hr : Text(element->defaultAction, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (FAILED(hr)) return hr;
        if (flags != SELFLAG_TAKEFOCUS || hr == S_FALSE ||
            !(element->states & kAccessibleFocusable))
            return DISP_E_MEMBERNOTFOUND;
        if (!IsWindowEnabled(window)) return E_FAIL;  // a modal picker owns the input now
        InstallerState& state = *State();
        state.focusTarget = element->target;
        state.focusStage = GetStage(state);
        SetFocus(window);
        Repaint(window);
        AnnounceAccessibleChanges(state, window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (FAILED(hr)) return hr;
        RECT box{};
        if (hr == S_FALSE) {
            GetClientRect(window, &box);
        } else {
            const float scale = State()->dpiScale;
            const LayoutRect& r = element->rect;
            box = {std::lround(r.x * scale), std::lround(r.y * scale),
                   std::lround((r.x + r.width) * scale), std::lround((r.y + r.height) * scale)};
        }
        POINT corner{box.left, box.top};
        ClientToScreen(window, &corner);
        *left = corner.x;
        *top = corner.y;
        *width = box.right - box.left;
        *height = box.bottom - box.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(start, &elements, &element);
        if (FAILED(hr)) return hr;
        const long count = static_cast<long>(elements.size());
        long to = 0;
        if (hr == S_FALSE) {
            if (direction == NAVDIR_FIRSTCHILD) to = count > 0 ? 1 : 0;
            if (direction == NAVDIR_LASTCHILD) to = count;
        } else if (direction == NAVDIR_NEXT && element->childId < count) {
            to = element->childId + 1;
        } else if (direction == NAVDIR_PREVIOUS && element->childId > 1) {
            to = element->childId - 1;
        }
        if (to == 0) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        std::vector<AccessibleElement> elements;
        if (!Elements(&elements)) return E_FAIL;
        POINT point{x, y};
        ScreenToClient(window, &point);
        RECT client{};
        GetClientRect(window, &client);
        if (!PtInRect(&client, point)) return S_FALSE;
        const float scale = State()->dpiScale;
        out->vt = VT_I4;
        out->lVal = CHILDID_SELF;
        for (const AccessibleElement& e : elements) {
            if (PointInRect(e.rect, static_cast<float>(point.x) / scale,
                            static_cast<float>(point.y) / scale))
                out->lVal = e.childId;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* element = nullptr;
        const HRESULT hr = Child(child, &elements, &element);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE || element->defaultAction.empty()) return DISP_E_MEMBERNOTFOUND;
        // A disabled window is behind a modal folder picker, whose own loop would run the
        // posted command under it.
        if ((element->states & kAccessibleUnavailable) || !IsWindowEnabled(window)) return E_FAIL;
        PostMessageW(window, WM_ACCESSIBLE_ACTION, static_cast<WPARAM>(element->target),
                     static_cast<LPARAM>(GetStage(*State())));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

    static long MsaaRole(AccessibleRole role) {
        switch (role) {
            case AccessibleRole::PushButton:
                return ROLE_SYSTEM_PUSHBUTTON;
            case AccessibleRole::CheckBox:
                return ROLE_SYSTEM_CHECKBUTTON;
            case AccessibleRole::ProgressBar:
                return ROLE_SYSTEM_PROGRESSBAR;
            case AccessibleRole::StaticText:
                break;
        }
        return ROLE_SYSTEM_STATICTEXT;
    }
};

DWORD WinEventOf(AccessibleEventKind kind) {
    switch (kind) {
        case AccessibleEventKind::Reorder:
            return EVENT_OBJECT_REORDER;
        case AccessibleEventKind::Focus:
            return EVENT_OBJECT_FOCUS;
        case AccessibleEventKind::StateChange:
            return EVENT_OBJECT_STATECHANGE;
        case AccessibleEventKind::NameChange:
            return EVENT_OBJECT_NAMECHANGE;
        case AccessibleEventKind::ValueChange:
            break;
    }
    return EVENT_OBJECT_VALUECHANGE;
}

}  // namespace

LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    // The object id travels in the low 32 bits; on 64-bit Windows the rest may be either sign.
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT) || !StateOf(window))
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    ComPtr<IAccessible> object(new InstallerAccessible(window));
    return syslib::LresultFromObject(__uuidof(IAccessible), wParam, object.get());
}

void AnnounceAccessibleChanges(InstallerState& state, HWND window) {
    const InstallProgress progress = SnapshotProgress(state);
    state.focusTarget = FocusedControl(state, progress.stage);
    state.focusStage = progress.stage;
    std::vector<AccessibleElement> now = AccessibleElements(state, progress);
    const bool first = state.announcedElements.empty() && !now.empty();
    const std::vector<AccessibleEvent> events = AccessibleChanges(state.announcedElements, now);
    state.announcedElements = std::move(now);
    if (first || !IsWindow(window)) return;
    for (const AccessibleEvent& e : events)
        NotifyWinEvent(WinEventOf(e.kind), window, OBJID_CLIENT,
                       e.childId == 0 ? CHILDID_SELF : e.childId);
}
