#include "common/opUninstallRegistry.h"

#include "common/safetyGuard.h"
#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/lookupScope.h"
#include "platform/peResources.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <algorithm>
#include <cstring>

using platform::HKEY;
using platform::Trim;
using platform::TStringList;

namespace {

const char* const UninstallPrefix = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const ArpCacheKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache";
const char* const AppPathsKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const char* const ShellFoldersKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct TSearchRoot {
    HKEY Root;
    const char* Name;
};
// The order in which every Uninstall search walks the roots.
const TSearchRoot SearchRoots[] = {{platform::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
                                   {platform::HKEY_CURRENT_USER, "HKEY_CURRENT_USER"}};

// The platform's GetWindowsDirectory buffer: 143 characters and the terminating zero.
constexpr size_t WindowsDirCapacity = 143;

std::string RootName(HKEY root) {
    switch (root) {
    case platform::HKEY_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    case platform::HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case platform::HKEY_CLASSES_ROOT:
        return "HKEY_CLASSES_ROOT";
    case platform::HKEY_USERS:
        return "HKEY_USERS";
    default:
        return "HKEY_CURRENT_CONFIG";
    }
}

// Closes the accessor's open key when an operation leaves, by its result or by an error passing.
class TKeyCloser {
public:
    explicit TKeyCloser(platform::TRegistry& registry) : FRegistry(registry) {}
    ~TKeyCloser() { FRegistry.CloseKey(); }
    TKeyCloser(const TKeyCloser&) = delete;
    TKeyCloser& operator=(const TKeyCloser&) = delete;

private:
    platform::TRegistry& FRegistry;
};

// The Count characters of Text from From on as a decimal number of digits only, or Default.
int DecimalField(const std::string& text, size_t from, size_t count, int defaultValue) {
    // A field cut short by the end of the text is no number, even when its first digit is there.
    if (from + count > text.size())
        return defaultValue;
    std::string field = text.substr(from, count);
    if (field.empty() ||
        !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return defaultValue;
    return std::stoi(field);
}

// An optionally signed decimal number, or Default.
int DecimalOrDefault(const std::string& text, int defaultValue) {
    std::string digits = Trim(text);
    size_t start = !digits.empty() && (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
    if (start == digits.size() || digits.size() - start > 9 ||
        !std::all_of(digits.begin() + static_cast<std::ptrdiff_t>(start), digits.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return defaultValue;
    return std::stoi(digits);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TURegistryOp::TURegistryOp() : FRegistry(std::make_unique<platform::TRegistry>(platform::KEY_ALL_ACCESS)) {}

TURegistryOp::~TURegistryOp() = default;

bool TURegistryOp::OpenReadWrite(const std::string& key) {
    // An earlier read-only open must not narrow this one.
    FRegistry->SetAccess(platform::KEY_ALL_ACCESS);
    return FRegistry->OpenKey(key, false);
}

bool TURegistryOp::OpenReadOnly(const std::string& key) {
    return FRegistry->OpenKeyReadOnly(key);
}

// ---- Uninstall entries ----

std::string TURegistryOp::ReadEntryText(const std::string& name) {
    // Installers write numbers too (a REG_DWORD InstallDate, EstimatedSize, a binary DisplayIcon): such a
    // value says nothing as text, and it must not end a scan or a removal half-way. The accessor's only
    // error of a read is the wrong type.
    try {
        return FRegistry->ReadString(name);
    } catch (const platform::ERegistryException&) {
        return {};
    }
}

void TURegistryOp::VisitUninstallEntries(bool readWrite, const TUninstallVisitor& visit) {
    for (size_t rootIndex = 0; rootIndex < std::size(SearchRoots); ++rootIndex)
        VisitRootEntries(rootIndex, readWrite, visit);
}

void TURegistryOp::VisitRootEntries(size_t rootIndex, bool readWrite, const TUninstallVisitor& visit) {
    auto open = [this, readWrite](const std::string& key) {
        return readWrite ? OpenReadWrite(key) : OpenReadOnly(key);
    };
    const TSearchRoot& root = SearchRoots[rootIndex];
    FRegistry->SetRootKey(root.Root);
    if (!open(UninstallKey))
        return;
    TStringList keys;
    FRegistry->GetKeyNames(keys);
    for (const std::string& key : keys)
        if (open(UninstallPrefix + key) && !visit(root.Name, key))
            break;
}

TURegistryOp::TUninstallIndex* TURegistryOp::ScopeIndex() {
    const uint64_t scope = platform::CurrentLookupScope();
    if (scope == 0)
        return nullptr;
    if (FIndex.Scope != scope) {
        FIndex = {};
        for (size_t rootIndex = 0; rootIndex < std::size(SearchRoots); ++rootIndex) {
            auto& firstKeys = FIndex.FirstKeyByName[rootIndex];
            VisitRootEntries(rootIndex, false, [&](const std::string&, const std::string& key) {
                // emplace keeps the earlier entry of a name: the first match in enumeration order.
                if (FRegistry->ValueExists("DisplayName") && FRegistry->ValueExists("UninstallString"))
                    firstKeys.emplace(Trim(ReadEntryText("DisplayName")), key);
                return true;
            });
        }
        // Set last: a walk that an error ended leaves no index behind.
        FIndex.Scope = scope;
    }
    return &FIndex;
}

bool TURegistryOp::AcceptsForRow(const std::string& displayName) {
    return FRegistry->ValueExists("DisplayName") && FRegistry->ValueExists("UninstallString") &&
           Trim(ReadEntryText("DisplayName")) == displayName;
}

std::string TURegistryOp::FindUninstallKey(const std::string& displayName) {
    TKeyCloser closer(*FRegistry);
    std::string keyPath;
    VisitUninstallEntries(true, [&](const std::string& rootName, const std::string& key) {
        if (FRegistry->ValueExists("DisplayName") && Trim(ReadEntryText("DisplayName")) == displayName) {
            // A later root's hit replaces this one, so the per-user entry wins.
            keyPath = rootName + UninstallPrefix + key;
            return false;
        }
        return true;
    });
    return keyPath;
}

int TURegistryOp::ListInstalledNames(TStringList& names) {
    TKeyCloser closer(*FRegistry);
    names.Clear();
    VisitUninstallEntries(false, [&](const std::string&, const std::string&) {
        if (FRegistry->ValueExists("DisplayName")) {
            std::string name = Trim(ReadEntryText("DisplayName"));
            if (!name.empty())
                names.Add(name);
        }
        return true;
    });
    return names.Count();
}

TUNINSTALL_DES TURegistryOp::GetUninstallDes(const std::string& displayName, int32_t tag) {
    TUNINSTALL_DES des;
    std::string keyPath = FindUninstallKey(displayName);
    if (keyPath.empty())
        return des;
    TKeyCloser closer(*FRegistry);
    FRegistry->SetRootKey(RootKeyOf(keyPath));
    std::string key = keyPath.substr(keyPath.find('\\'));
    if (!OpenReadOnly(key))
        return des;
    std::string installDate = FormatInstallDate(ReadEntryText("InstallDate"));
    std::string displayVersion = Trim(ReadEntryText("DisplayVersion"));
    std::string installLocation = Trim(ReadEntryText("InstallLocation"));
    std::string helpLink = Trim(ReadEntryText("HelpLink"));
    std::string publisher = Trim(ReadEntryText("Publisher"));
    std::string urlInfoAbout = Trim(ReadEntryText("URLInfoAbout"));
    std::string urlUpdateInfo = Trim(ReadEntryText("URLUpdateInfo"));
    std::string uninstallString = Trim(ReadEntryText("UninstallString"));

    des.KeyName = key.substr(std::strlen(UninstallPrefix));
    des.DisplayName = displayName;
    des.Tag = tag;
    des.DisplayVersion = displayVersion;
    des.InstallDate = installDate;
    des.InstallLocation = installLocation;
    des.HelpLink = helpLink;
    des.Publisher = publisher;
    des.URLInfoAbout = urlInfoAbout;
    des.URLUpdateInfo = urlUpdateInfo;
    des.UninstallString = uninstallString;
    return des;
}

std::string TURegistryOp::FormatInstallDate(const std::string& raw) {
    if (Trim(raw).empty())
        return {};
    if (Contains(raw, "-") || Contains(raw, ","))
        return raw;
    int year = DecimalField(raw, 0, 4, 2008);
    int month = DecimalField(raw, 4, 2, 1);
    int day = DecimalField(raw, 6, 2, 1);
    platform::TDateTime date = 0;
    if (year < 1 || !platform::TryEncodeDate(year, month, day, date))
        return {};
    std::string dayText = std::to_string(day);
    std::string yearText = std::to_string(year);
    return platform::ShortMonthName(month) + " " + std::string(2 - std::min<size_t>(2, dayText.size()), '0') +
           dayText + "," + std::string(4 - std::min<size_t>(4, yearText.size()), '0') + yearText;
}

int TURegistryOp::GetSoftwareRow(const std::string& displayName, TImageList& smallList, TImageList& largeList,
                                 TStringList& row) {
    std::string windowsCache = GetWindowsDir() + "\\Installer\\";
    std::string userCache = GetShellFolder("AppData") + "\\Microsoft\\Installer\\";
    TKeyCloser closer(*FRegistry);
    row.Clear();
    // The scan asks for every installed candidate: inside its scope the index names the one entry to open.
    TUninstallIndex* index = ScopeIndex();
    auto addRow = [&] {
        row.Add(displayName);
        row.Add(FormatInstallDate(ReadEntryText("InstallDate")));
        row.Add(ReadEntryText("Publisher"));
        row.Add(std::to_string(ChooseIcon(smallList, largeList, windowsCache, userCache, index)));
    };
    for (size_t rootIndex = 0; rootIndex < std::size(SearchRoots); ++rootIndex) {
        if (index) {
            const auto& firstKeys = index->FirstKeyByName[rootIndex];
            auto hit = firstKeys.find(displayName);
            if (hit == firstKeys.end())
                continue;
            FRegistry->SetRootKey(SearchRoots[rootIndex].Root);
            if (OpenReadOnly(UninstallPrefix + hit->second) && AcceptsForRow(displayName)) {
                addRow();
                continue;
            }
            // The entry changed since the index was built: the walk decides.
        }
        VisitRootEntries(rootIndex, false, [&](const std::string&, const std::string&) {
            if (!AcceptsForRow(displayName))
                return true;
            addRow();
            return false;
        });
    }
    return row.Count();
}

// The icon of the entry whose key is open: its DisplayIcon, else the file its UninstallString runs (or the
// installer cache's icon of an msiexec product code), else the program's own. A call counts as a success
// only above index 0, which the program's own icon holds.
int TURegistryOp::ChooseIcon(TImageList& smallList, TImageList& largeList, const std::string& windowsCache,
                             const std::string& userCache, TUninstallIndex* index) {
    int iconIndex = 0;
    int result = 0;
    std::string displayIcon =
        FRegistry->ValueExists("DisplayIcon") ? Trim(ReadEntryText("DisplayIcon")) : std::string();

    if (!displayIcon.empty()) {
        if (size_t comma = displayIcon.find(','); comma != std::string::npos) {
            iconIndex = DecimalOrDefault(displayIcon.substr(comma + 1), 0);
            displayIcon.erase(comma);
        }
        if (platform::FileExists(displayIcon)) {
            result = AddIconToLists(smallList, largeList, displayIcon, iconIndex);
            if (result > 0)
                return result;
        }
    }

    // Read only now: an entry whose DisplayIcon gave the icon never reads its UninstallString as text.
    std::string uninstallString = platform::LowerCase(Trim(ReadEntryText("UninstallString")));
    if (!uninstallString.empty()) {
        if (!Contains(uninstallString, "msiexec.exe")) {
            size_t exe = uninstallString.find(".exe");
            std::string file =
                exe == std::string::npos ? uninstallString.substr(0, 3) : uninstallString.substr(0, exe + 4);
            file.erase(std::remove(file.begin(), file.end(), '"'), file.end());
            if (platform::FileExists(file)) {
                result = AddIconToLists(smallList, largeList, file, iconIndex);
                if (result > 0)
                    return result;
            }
        } else {
            size_t brace = uninstallString.find('{');
            std::string productCode =
                brace == std::string::npos ? uninstallString : uninstallString.substr(brace);
            std::string folder = windowsCache + productCode;
            if (!platform::DirectoryExists(folder))
                folder = userCache + productCode;
            if (platform::DirectoryExists(folder)) {
                std::string iconFile = FindMsiIcon(folder);
                if (!iconFile.empty()) {
                    result = AddIconToLists(smallList, largeList, iconFile, iconIndex);
                    if (result > 0)
                        return result;
                }
            }
        }
    }

    if (!index)
        return AddIconToLists(smallList, largeList, platform::GetModuleFileName(), iconIndex);
    if (index->ModuleFile.empty())
        index->ModuleFile = platform::GetModuleFileName();
    return AddIconToLists(smallList, largeList, index->ModuleFile, iconIndex);
}

int TURegistryOp::AddIconToLists(TImageList& smallList, TImageList& largeList, const std::string& fileName,
                                 int32_t iconIndex) {
    platform::TIconImage large;
    platform::TIconImage small;
    platform::ExtractIconPair(fileName, iconIndex, large, small);
    smallList.Add(small);
    return largeList.Add(large);
}

std::string TURegistryOp::FindMsiIcon(const std::string& folder) {
    if (platform::FileExists(folder + "\\Installer.ico"))
        return folder + "\\Installer.ico";
    if (platform::FileExists(folder + "\\ARPPRODUCTICON.exe"))
        return folder + "\\ARPPRODUCTICON.exe";
    for (const platform::TFindData& entry : platform::FindFiles(folder + "\\*.exe")) {
        // Any folder is passed over, whatever other attribute bits the machine reports with it.
        if (entry.Name == "." || entry.Name == ".." ||
            (entry.Attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        return folder + "\\" + entry.Name;
    }
    return {};
}

bool TURegistryOp::DeleteUninstallKey(const std::string& displayName) {
    std::string keyPath = FindUninstallKey(displayName);
    if (keyPath.empty())
        return false;
    return DeleteRegItem(keyPath, KindRegistryKey);
}

// ---- Registry items and program traces ----

HKEY TURegistryOp::RootKeyOf(const std::string& path) {
    size_t slash = path.find('\\');
    std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash);
    return platform::RootKeyOfName(head).value_or(platform::HKEY_CURRENT_CONFIG);
}

std::string TURegistryOp::LastPathPart(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool TURegistryOp::DeleteRegItem(const std::string& path, uint16_t kind) {
    // The only change this class makes to Uninstall entries: the scope's index no longer tells them.
    FIndex.Scope = 0;
    TKeyCloser closer(*FRegistry);
    size_t slash = path.find('\\');
    // A path without a root component would name a root or a value of one.
    if (slash == std::string::npos || (kind != KindRegistryKey && kind != KindRegistryValue))
        return false;
    HKEY root = RootKeyOf(path);
    std::string rest = path.substr(slash + 1);
    FRegistry->SetRootKey(root);
    FRegistry->SetAccess(platform::KEY_ALL_ACCESS);

    if (kind == KindRegistryKey) {
        while (!rest.empty() && rest.back() == '\\')
            rest.pop_back();
        // The guard judges the key as it will be deleted: the root the path really resolves to.
        if (rest.empty() || !safetyGuard::MayDeleteRegistryKey(RootName(root) + "\\" + rest))
            return false;
        return FRegistry->DeleteKey("\\" + rest);
    }

    std::string name = LastPathPart(rest);
    size_t last = rest.rfind('\\');
    std::string key = last == std::string::npos ? std::string() : rest.substr(0, last);
    // A value directly on a root is no program's own.
    if (key.find_first_not_of('\\') == std::string::npos)
        return false;
    if (!OpenReadWrite("\\" + key))
        return false;
    return FRegistry->DeleteValue(name);
}

namespace {

// A folder text without the quotes around it and without trailing backslashes.
std::string BareFolder(std::string folder) {
    while (!folder.empty() && (folder.front() == '"' || folder.front() == ' '))
        folder.erase(0, 1);
    while (!folder.empty() && (folder.back() == '"' || folder.back() == '\\' || folder.back() == ' '))
        folder.pop_back();
    // A drive root keeps its backslash: "C:" alone is no full path.
    if (folder.size() == 2 && folder[1] == ':')
        folder += '\\';
    return folder;
}

} // namespace

int TURegistryOp::GetLeftoverKeys(const std::string& displayName, TStringList& items) {
    TUNINSTALL_DES des = GetUninstallDes(displayName, 0);
    const std::string& keyName = des.KeyName;
    const std::string& name = des.DisplayName;
    std::string location = des.InstallLocation;
    // An install location that is a shared folder (a drive root, Program Files, the Windows folder...) is
    // contained in every other program's start-up and App Paths values; searching for it would take theirs.
    // The folder is judged without the quotes and trailing backslashes around it.
    if (!location.empty() && !safetyGuard::MayDeleteFolder(BareFolder(location)))
        location.clear();
    TKeyCloser closer(*FRegistry);
    items.Clear();

    FRegistry->SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (OpenReadWrite(ArpCacheKey)) {
        TStringList keys;
        FRegistry->GetKeyNames(keys);
        if (std::find(keys.begin(), keys.end(), keyName) != keys.end())
            items.Add("2HKEY_LOCAL_MACHINE" + std::string(ArpCacheKey) + "\\" + keyName);
    }

    if (!location.empty()) {
        FRegistry->SetRootKey(platform::HKEY_LOCAL_MACHINE);
        if (OpenReadWrite(AppPathsKey)) {
            TStringList keys;
            FRegistry->GetKeyNames(keys);
            for (const std::string& key : keys) {
                if (OpenReadWrite(std::string(AppPathsKey) + "\\" + key) && FRegistry->ValueExists("Path") &&
                    Contains(FRegistry->ReadString("Path"), location)) {
                    items.Add("2HKEY_LOCAL_MACHINE" + std::string(AppPathsKey) + "\\" + key);
                    break;
                }
            }
            AppendRunHits(platform::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", location, items);
        }
    }

    AppendSoftwareKeyHits(platform::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", keyName, name, items);
    AppendSoftwareKeyHits(platform::HKEY_CURRENT_USER, "HKEY_CURRENT_USER", keyName, name, items);

    if (!location.empty())
        AppendRunHits(platform::HKEY_CURRENT_USER, "HKEY_CURRENT_USER", location, items);
    return items.Count();
}

void TURegistryOp::AppendRunHits(HKEY root, const std::string& rootName, const std::string& location,
                                 TStringList& items) {
    FRegistry->SetRootKey(root);
    if (!OpenReadWrite(RunKey))
        return;
    TStringList values;
    FRegistry->GetValueNames(values);
    for (const std::string& value : values) {
        if (Contains(FRegistry->ReadString(value), location))
            items.Add("3" + rootName + RunKey + "\\" + value);
    }
}

// A key under SOFTWARE named after the Uninstall subkey or the display name, or a key named after the display
// name one level below a vendor key.
void TURegistryOp::AppendSoftwareKeyHits(HKEY root, const std::string& rootName, const std::string& keyName,
                                         const std::string& displayName, TStringList& items) {
    FRegistry->SetRootKey(root);
    if (!OpenReadWrite("\\SOFTWARE"))
        return;
    const std::string base = "2" + rootName + "\\SOFTWARE\\";
    TStringList subkeys;
    FRegistry->GetKeyNames(subkeys);
    for (const std::string& subkey : subkeys) {
        if (subkey == keyName) {
            items.Add(base + keyName);
        } else if (subkey == displayName) {
            items.Add(base + displayName);
        } else if (!displayName.empty() && OpenReadWrite("\\SOFTWARE\\" + subkey)) {
            // Without a display name nothing below can match, so the walk spares itself the opens.
            TStringList children;
            FRegistry->GetKeyNames(children);
            for (const std::string& child : children) {
                if (child == displayName)
                    items.Add(base + subkey + "\\" + displayName);
            }
        }
    }
}

int TURegistryOp::GetFoldersFromValues(const TStringList& keyPaths, const TStringList& valueNames,
                                       TStringList& folders) {
    TKeyCloser closer(*FRegistry);
    folders.Clear();
    // A key path without a value name of its own is passed over.
    int count = std::min(keyPaths.Count(), valueNames.Count());
    for (int i = 0; i < count; ++i) {
        std::string keyPath = Trim(keyPaths[i]);
        std::string name = Trim(valueNames[i]);
        size_t slash = keyPath.find('\\');
        if (slash == std::string::npos)
            continue;
        FRegistry->SetRootKey(RootKeyOf(keyPath));
        if (!OpenReadWrite(keyPath.substr(slash)))
            continue;
        std::string text;
        if (platform::LowerCase(name) == "(default)")
            text = Trim(FRegistry->ReadString(""));
        else if (FRegistry->ValueExists(name))
            text = Trim(FRegistry->ReadString(name));
        FRegistry->CloseKey();
        if (text.empty())
            continue;

        if (size_t quote = text.find('"'); quote != std::string::npos) {
            if (quote == 0)
                text.erase(0, 1);
            if (quote = text.find('"'); quote != std::string::npos)
                text.erase(quote);
        }
        if (size_t comma = text.find(','); comma != std::string::npos)
            text.erase(comma);
        size_t lastSlash = text.rfind('\\');
        std::string lastPart = lastSlash == std::string::npos ? text : text.substr(lastSlash + 1);
        if (Contains(lastPart, ".")) {
            if (lastSlash == std::string::npos)
                text.clear();
            else if (lastSlash == 2 && text[1] == ':')
                text.erase(lastSlash + 1);
            else
                text.erase(lastSlash);
        }
        text = platform::LowerCase(text);
        if (!text.empty() && platform::DirectoryExists(text) &&
            std::find(folders.begin(), folders.end(), text) == folders.end())
            folders.Add(text);
    }
    return folders.Count();
}

bool TURegistryOp::DeleteServiceKeys(const std::string& serviceName) {
    if (!safetyGuard::MayRemoveService(serviceName))
        return false;
    TKeyCloser closer(*FRegistry);
    FRegistry->SetRootKey(platform::HKEY_LOCAL_MACHINE);
    FRegistry->SetAccess(platform::KEY_ALL_ACCESS);
    bool existed = false;
    for (const char* services : {"\\SYSTEM\\ControlSet001\\Services", "\\SYSTEM\\ControlSet002\\Services",
                                 "\\SYSTEM\\CurrentControlSet\\Services"}) {
        std::string key = std::string(services) + "\\" + serviceName;
        if (!FRegistry->KeyExists(key))
            continue;
        existed = true;
        if (safetyGuard::MayDeleteRegistryKey("HKEY_LOCAL_MACHINE" + key))
            FRegistry->DeleteKey(key);
    }
    return existed;
}

void TURegistryOp::SetRunValue(const std::string& name, const std::string& data) {
    TKeyCloser closer(*FRegistry);
    FRegistry->SetRootKey(platform::HKEY_LOCAL_MACHINE);
    // A key that did not open leaves nothing to write to, and the write reports the failure.
    OpenReadWrite(RunKey);
    FRegistry->WriteString(name, data);
}

void TURegistryOp::DeleteRunValue(const std::string& name) {
    TKeyCloser closer(*FRegistry);
    FRegistry->SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (OpenReadWrite(RunKey) && FRegistry->ValueExists(name))
        FRegistry->DeleteValue(name);
}

std::string TURegistryOp::GetShellFolder(const std::string& name) {
    TKeyCloser closer(*FRegistry);
    FRegistry->SetRootKey(platform::HKEY_CURRENT_USER);
    if (!OpenReadWrite(ShellFoldersKey) || !FRegistry->ValueExists(name))
        return {};
    return Trim(FRegistry->ReadString(name));
}

std::string TURegistryOp::GetWindowsDir() {
    std::string dir = platform::GetWindowsDirectory();
    dir = dir.substr(0, dir.find('\0'));
    if (dir.size() > WindowsDirCapacity)
        return {};
    while (dir.size() > 3 && dir.back() == '\\')
        dir.pop_back();
    return dir;
}
