#include "settings/VaultViewCache.h"

#include <algorithm>

#include "common/CriticalSection.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"

namespace {

// Each watched folder holds up to two handles; folders beyond this many are
// read again on every request instead.
constexpr size_t kMaxWatchedFolders = 1024;
// Folders asked about that are no registered view root (item paths' roots).
constexpr size_t kMaxOtherFolders = 32;

// The key that holds the application key: watching its subtree also sees the
// application key itself being created or removed.
CString ApplicationsKeyPath() {
    const CString app = kAppKeyPath;
    return app.substr(0, app.find_last_of(L'\\'));
}

}  // namespace

bool VaultViewCache::FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name) {
    ExclusiveLock guard(lock_);
    // One wait answers for the registrations and every view root at once.
    if (handlesDirty_) CollectHandles();
    size_t signalled = FirstSignalled(handles_, 0);
    if (!valid_ || signalled < kRegistryHandles) {
        Rebuild(settings);
        CollectHandles();
        signalled = FirstSignalled(handles_, kRegistryHandles);
    }
    RefreshChanged(signalled);
    for (const View& view : views_) {
        const Folder* root = view.root;
        if (root && root->ids.IsViewOf(vaultId)) {
            name = view.name;
            return true;
        }
    }
    return false;
}

bool VaultViewCache::ReadIdentity(const CString& folderPath, ViewIdentity which, GUID& out) {
    ExclusiveLock guard(lock_);
    Folder& folder = FolderFor(folderPath);
    folder.lastUse = ++clock_;
    const auto handles = folder.watch.Handles();
    if (folder.stale || !folder.watch.Complete() || FirstSignalled(handles, 0) < handles.size()) Refresh(folder);
    const bool found = which == ViewIdentity::View ? folder.ids.hasView : folder.ids.hasVault;
    if (found) out = which == ViewIdentity::View ? folder.ids.view : folder.ids.vault;
    DropUnusedFolders();
    return found;
}

// The fresh read: every registration with a root, in the order the views are
// listed, each root's identities read anew unless its watch says nothing changed.
void VaultViewCache::Rebuild(SettingsLight& settings) {
    ++reads_.registrations;
    valid_ = false;
    views_.clear();
    // Created before the watch is armed, so that creating it is no change to see.
    settings.UserKey();
    const CString applications = ApplicationsKeyPath();
    const bool machineArmed = machineWatch_.Arm(HKEY_LOCAL_MACHINE, applications);
    const bool userArmed = userWatch_.Arm(HKEY_CURRENT_USER, applications);
    for (const CString& name : settings.RegisteredViewNames()) {
        const CString root = settings.GetViewRoot(name.c_str());
        views_.push_back({name, root.empty() ? nullptr : &FolderFor(root)});
    }
    DropUnusedFolders();
    valid_ = machineArmed && userArmed;
}

VaultViewCache::Reads VaultViewCache::ReadCounts() {
    ExclusiveLock guard(lock_);
    return reads_;
}

VaultViewCache::Folder& VaultViewCache::FolderFor(const CString& path) {
    for (auto& folder : folders_) {
        if (folder->path == path) return *folder;
    }
    auto folder = std::make_unique<Folder>();
    folder->path = path;
    folder->watchable = folders_.size() < kMaxWatchedFolders;
    folders_.push_back(std::move(folder));
    handlesDirty_ = true;
    return *folders_.back();
}

// Arms the folder's watch, then reads its desktop.ini: a change after the
// watch is armed is seen on the next request.
void VaultViewCache::Refresh(Folder& folder) {
    if (folder.watchable) {
        folder.watch.Arm(folder.path);
        handlesDirty_ = true;
    }
    ++reads_.folders;
    folder.ids = ReadViewIdentities(folder.path);
    folder.stale = false;
}

// Marks the folders whose watches fired, from the first signalled handle on,
// then reads again the view roots that changed or cannot be watched; other
// folders are read when they are asked for.
void VaultViewCache::RefreshChanged(size_t signalled) {
    for (size_t i = signalled; i < handles_.size(); i = FirstSignalled(handles_, i + 1)) owners_[i]->stale = true;
    ++generation_;
    for (const View& view : views_) {
        Folder* root = view.root;
        if (!root || root->checked == generation_) continue;
        root->checked = generation_;
        if (root->stale || !root->watch.Complete()) Refresh(*root);
    }
}

void VaultViewCache::DropUnusedFolders() {
    if (folders_.size() <= views_.size() + kMaxOtherFolders) return;
    std::vector<Folder*> other;
    for (auto& folder : folders_) {
        const bool isRoot = std::any_of(views_.begin(), views_.end(), [&](const View& v) { return v.root == folder.get(); });
        if (!isRoot) other.push_back(folder.get());
    }
    if (other.size() <= kMaxOtherFolders) return;
    std::sort(other.begin(), other.end(), [](const Folder* a, const Folder* b) { return a->lastUse < b->lastUse; });
    other.resize(other.size() - kMaxOtherFolders);  // the least recently used go
    std::erase_if(folders_, [&](const std::unique_ptr<Folder>& folder) {
        return std::find(other.begin(), other.end(), folder.get()) != other.end();
    });
    handlesDirty_ = true;
}

void VaultViewCache::CollectHandles() {
    handles_.assign({machineWatch_.Event(), userWatch_.Event()});
    owners_.assign(kRegistryHandles, nullptr);
    for (auto& folder : folders_) {
        for (HANDLE handle : folder->watch.Handles()) {
            handles_.push_back(handle);
            owners_.push_back(folder.get());
        }
    }
    handlesDirty_ = false;
}

VaultViewCache& ProcessVaultViews() {
    static VaultViewCache cache;
    return cache;
}
