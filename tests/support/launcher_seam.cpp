#include "support/launcher_seam.h"

#include "common/instance_names.h"
#include "platform/owners.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <utility>

namespace {

LauncherSeam* g_current = nullptr;

std::wstring orEmpty(const wchar_t* s) { return s ? s : L""; }

// The real shell link, with every call passed on; Save also notes what is being saved.
class RecordingShellLink : public IShellLinkW, public IShellLinkDataList, public IPersistFile {
public:
    explicit RecordingShellLink(IShellLinkW* real) : link_(real) {
        link_->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void**>(&dataList_));
        link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist_));
    }
    virtual ~RecordingShellLink() {
        if (dataList_) dataList_->Release();
        if (persist_) persist_->Release();
        link_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IShellLinkW) *out = static_cast<IShellLinkW*>(this);
        else if (iid == IID_IShellLinkDataList && dataList_) *out = static_cast<IShellLinkDataList*>(this);
        else if (iid == IID_IPersistFile && persist_) *out = static_cast<IPersistFile*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IShellLinkW
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR f, int n, WIN32_FIND_DATAW* d, DWORD fl) override { return link_->GetPath(f, n, d, fl); }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* p) override { return link_->GetIDList(p); }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE p) override { return link_->SetIDList(p); }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR s, int n) override { return link_->GetDescription(s, n); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR s) override { return link_->SetDescription(s); }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR s, int n) override { return link_->GetWorkingDirectory(s, n); }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR s) override { return link_->SetWorkingDirectory(s); }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR s, int n) override { return link_->GetArguments(s, n); }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR s) override { return link_->SetArguments(s); }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD* k) override { return link_->GetHotkey(k); }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD k) override { return link_->SetHotkey(k); }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int* c) override { return link_->GetShowCmd(c); }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int c) override { return link_->SetShowCmd(c); }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR s, int n, int* i) override { return link_->GetIconLocation(s, n, i); }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR s, int i) override { return link_->SetIconLocation(s, i); }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR s, DWORD r) override { return link_->SetRelativePath(s, r); }
    HRESULT STDMETHODCALLTYPE Resolve(HWND w, DWORD f) override { return link_->Resolve(w, f); }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR s) override { return link_->SetPath(s); }

    // IShellLinkDataList
    HRESULT STDMETHODCALLTYPE AddDataBlock(void* b) override { return dataList_->AddDataBlock(b); }
    HRESULT STDMETHODCALLTYPE CopyDataBlock(DWORD s, void** b) override { return dataList_->CopyDataBlock(s, b); }
    HRESULT STDMETHODCALLTYPE RemoveDataBlock(DWORD s) override { return dataList_->RemoveDataBlock(s); }
    HRESULT STDMETHODCALLTYPE GetFlags(DWORD* f) override { return dataList_->GetFlags(f); }
    HRESULT STDMETHODCALLTYPE SetFlags(DWORD f) override {
        HRESULT hr = dataList_->SetFlags(f);
        if (SUCCEEDED(hr)) flagsSet_ = {true, f};
        return hr;
    }

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* c) override { return persist_->GetClassID(c); }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return persist_->IsDirty(); }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR f, DWORD m) override { return persist_->Load(f, m); }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR f, BOOL remember) override {
        HRESULT hr = persist_->Save(f, remember);
        if (hr == S_OK && g_current) g_current->savedShortcuts.push_back(describe(f));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR f) override { return persist_->SaveCompleted(f); }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* f) override { return persist_->GetCurFile(f); }

private:
    SavedShortcut describe(LPCOLESTR path) {
        SavedShortcut s{orEmpty(path), L"", L"", 0};
        wchar_t text[MAX_PATH] = L"";
        if (SUCCEEDED(link_->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) s.target = text;
        text[0] = 0;
        if (SUCCEEDED(link_->GetArguments(text, MAX_PATH))) s.arguments = text;
        // Wine keeps only the flags it derives itself, so the last flags set are what a shell
        // that saves them would write.
        if (dataList_) dataList_->GetFlags(&s.flags);
        if (flagsSet_.first) s.flags = flagsSet_.second;
        return s;
    }

    IShellLinkW* link_;
    IShellLinkDataList* dataList_ = nullptr;
    IPersistFile* persist_ = nullptr;
    ULONG refs_ = 1;
    std::pair<bool, DWORD> flagsSet_{false, 0};
};

HRESULT WINAPI recordingCoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
    HRESULT hr = realSystemCalls().coCreateInstance(classId, outer, context, iid, out);
    if (hr == S_OK && classId == CLSID_ShellLink && iid == IID_IShellLinkW)
        *out = static_cast<IShellLinkW*>(new RecordingShellLink(static_cast<IShellLinkW*>(*out)));
    return hr;
}

BOOL WINAPI countingIsUserAnAdmin(void) {
    ++g_current->adminQueries;
    return g_current->below().isUserAnAdmin();
}

BOOL WINAPI recordingShellExecuteExW(SHELLEXECUTEINFOW* info) {
    g_current->startRequests.push_back({info->cbSize, info->fMask, info->hwnd, info->lpVerb == nullptr,
                                        orEmpty(info->lpFile), info->lpParameters == nullptr,
                                        orEmpty(info->lpDirectory), info->nShow, GetTickCount()});
    if (g_current->startSetsLauncherEvent) {
        UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, LAUNCHER_EVENT_NAME));
        if (event) SetEvent(event.get());
    }
    if (!g_current->startSucceeds) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    return g_current->below().shellExecuteExW(info);
}

BOOL WINAPI failingWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    LauncherSeam& seam = *g_current;
    if (!seam.failingWrites.count(++seam.writes)) return seam.below().writeFile(file, buffer, size, written, overlapped);
    seam.below().writeFile(file, buffer, size / 2, written, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

}  // namespace

LauncherSeam::LauncherSeam() : saved_(g_systemCalls) {
    g_current = this;
    g_systemCalls.isUserAnAdmin = &countingIsUserAnAdmin;
    g_systemCalls.shellExecuteExW = &recordingShellExecuteExW;
    g_systemCalls.writeFile = &failingWriteFile;
    g_systemCalls.coCreateInstance = &recordingCoCreateInstance;
}

LauncherSeam::~LauncherSeam() {
    g_systemCalls = saved_;
    g_current = nullptr;
}

LauncherSeam& LauncherSeam::current() { return *g_current; }
