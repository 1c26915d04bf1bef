#include "main/threadUninstall.h"

#include "common/opUninstallFile.h"
#include "common/opUninstallRegistry.h"
#include "common/publicFun.h"
#include "common/safetyGuard.h"
#include "main/dm2.h"
#include "main/frmMain2.h"
#include "platform/fileSystem.h"
#include "platform/lookupScope.h"
#include "platform/messageBox.h"
#include "platform/registry.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"
#include "platform/wineRegistry.h"

#include <atomic>
#include <cctype>
#include <memory>
#include <QCoreApplication>
#include <QLayout>
#include <utility>
#include <vector>

using platform::Trim;
using platform::TStringList;

namespace {

std::atomic<int> PendingWorkers{0};

const char* const CleaningCompletedText = "Cleaning completed.";
const char* const IncompleteRemovalsText = "These programs could not be removed completely:";

// A running wineserver keeps the prefix's registry in memory and writes it back when it ends: while it runs
// the registry refuses every change, and a removal would delete files and end processes whose registry
// entries stay (or come back).
bool WineRunning() {
    return platform::TWineRegistry::Instance().WineServerRunning();
}

std::string WineRunningText() {
    const std::string prefix = platform::PrefixFolder().string();
    return "Nothing was removed: Wine is running for the prefix " + prefix +
           ", and while it runs the registry cannot be changed.\n\n"
           "Close the Windows programs of this prefix, or end its wineserver with \"wineserver -k\" (with "
           "WINEPREFIX=" +
           prefix + "), then click Clean again.";
}

// The end message of a clean: done, or the programs that left something behind, one a line.
std::string CleanEndText(const std::vector<std::string>& incomplete) {
    if (incomplete.empty())
        return CleaningCompletedText;
    std::string text = IncompleteRemovalsText;
    for (const std::string& name : incomplete)
        text += "\n" + name;
    return text;
}

// Runs a job's closing step however the job leaves: by its end or by an error passing.
template <typename F> class TClosingStep {
public:
    explicit TClosingStep(F step) : FStep(std::move(step)) {}
    ~TClosingStep() { FStep(); }
    TClosingStep(const TClosingStep&) = delete;
    TClosingStep& operator=(const TClosingStep&) = delete;

private:
    F FStep;
};

// ---- What the jobs show while the window handles no events ----

// A status text names programs, paths, services and processes from the database and the registry.
void ShowStatus(const std::string& text) {
    SetPlainCaption(frmMain->panCleanHint, text);
    frmMain->panCleanHint->repaint();
}

void ShowCounter(int rows, const char* unit) {
    SetCaption(frmMain->labSoftNum, platform::IntToStr(rows) + unit);
    frmMain->labSoftNum->repaint();
}

// The progress bar repaints itself when the filled part changes.
void AdvanceGauge() {
    frmMain->gaugeUS->setValue(frmMain->gaugeUS->value() + 1);
}

QTreeWidgetItem* AddResultRow(QTreeWidget* list, int number, const QStringList& subItems, int imageIndex) {
    auto* row = new QTreeWidgetItem(list, QStringList{QString::number(number)} + subItems);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    row->setData(0, RowImageIndexRole, imageIndex);
    return row;
}

void AddDetailRow(QTreeWidget* list, int& rows, const QStringList& subItems) {
    new QTreeWidgetItem(list, QStringList{QString::number(++rows)} + subItems);
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The software information line of that number, trimmed; empty when the record was not found.
std::string InfoLine(const TStringList& info, int infoCount, int line) {
    return infoCount >= 1 && line < info.Count() ? Trim(info[line]) : std::string();
}

// ---- The removal's gates ----
// Every deletion asks the safety guard here first. A refused step is silent and counts as done, as does an
// item that is gone; a step that the guard lets go and that leaves its item in place fails the removal.

// A registry value goes only where its path, read as a key, would: never the default value of a shared
// key, nor a value of a root or just below one.
bool MayDeleteRegistryValue(const std::string& path) {
    return safetyGuard::MayDeleteRegistryKey(path);
}

// The root and the key path below it of a full registry path.
std::pair<platform::HKEY, std::string> SplitRegistryPath(const std::string& path) {
    const size_t slash = path.find('\\');
    return {TURegistryOp::RootKeyOf(path), slash == std::string::npos ? std::string() : path.substr(slash)};
}

bool RegistryKeyLeft(const std::string& path) {
    const auto [root, key] = SplitRegistryPath(path);
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    return !key.empty() && registry.KeyExists(key);
}

bool RegistryValueLeft(const std::string& path) {
    const auto [root, rest] = SplitRegistryPath(path);
    const size_t last = rest.rfind('\\');
    if (last == std::string::npos || last == 0)
        return false;
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    return registry.OpenKeyReadOnly(rest.substr(0, last)) && registry.ValueExists(rest.substr(last + 1));
}

} // namespace

// The outcome of one removal: whether every step that was allowed left nothing behind.
class TRemoval {
public:
    bool Complete() const { return FComplete; }

    // A database file item: its real place lies on drive C: and outside KV's own folder.
    void DeleteFile(const std::string& file) {
        if (safetyGuard::MayDeleteFile(file) && !DeleteItemFile(file) && Exists(file))
            FComplete = false;
    }

    void DeleteRegistryItem(TURegistryOp& registry, const std::string& path, uint16_t kind) {
        if (kind == TURegistryOp::KindRegistryKey) {
            if (safetyGuard::MayDeleteRegistryKey(path) && !registry.DeleteRegItem(path, kind) &&
                RegistryKeyLeft(path))
                FComplete = false;
        } else if (kind == TURegistryOp::KindRegistryValue) {
            if (MayDeleteRegistryValue(path) && !registry.DeleteRegItem(path, kind) &&
                RegistryValueLeft(path))
                FComplete = false;
        }
    }

    void RemoveService(TURegistryOp& registry, const std::string& service) {
        if (!safetyGuard::MayRemoveService(service))
            return;
        ::RemoveService(service);
        registry.DeleteServiceKeys(service);
        for (const char* services : {"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\",
                                     "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\",
                                     "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"})
            if (RegistryKeyLeft(services + service))
                FComplete = false;
    }

    // An install folder's tree; true when it is gone. A refused tree stays without failing the removal.
    bool DeleteFolderTree(const std::string& folder) {
        if (!safetyGuard::MayDeleteFolder(folder))
            return false;
        if (::DeleteFolderTree(folder))
            return true;
        FComplete = false;
        return false;
    }

    // The folder holding Path (Path up to and including its last backslash), when it is empty and may go.
    static void RemoveEmptyParent(const std::string& path) {
        const size_t last = path.rfind('\\');
        if (last == std::string::npos)
            return;
        const std::string parent = path.substr(0, last + 1);
        if (platform::DirectoryExists(parent) && IsFolderEmpty(parent) &&
            safetyGuard::MayDeleteFolder(parent))
            platform::RemoveDirectory(parent);
    }

    // A shell entry as a file; an entry that is a folder stays, as entries of its kind are files.
    void DeleteShellEntryFile(const std::string& entry) {
        if (platform::DirectoryExists(entry) || !safetyGuard::MayDeleteShellEntryFile(entry))
            return;
        if (!::DeleteShellEntryFile(entry) && Exists(entry))
            FComplete = false;
    }

    // A menu entry: a group folder with its contents (and the menu folder when that is left empty), else a
    // file.
    void DeleteMenuEntry(const std::string& entry) {
        if (!platform::DirectoryExists(entry)) {
            DeleteShellEntryFile(entry);
            return;
        }
        if (safetyGuard::MayDeleteShellEntryTree(entry) && !DeleteShellEntryTree(entry) &&
            platform::DirectoryExists(entry))
            FComplete = false;
        RemoveEmptyParent(entry);
    }

    // The Uninstall key whose DisplayName is Name (the per-user one when both roots hold one).
    void DeleteUninstallKey(TURegistryOp& registry, const std::string& name) {
        const std::string key = registry.FindUninstallKey(name);
        if (key.empty() || !safetyGuard::MayDeleteRegistryKey(key))
            return;
        if (!registry.DeleteUninstallKey(name) && RegistryKeyLeft(key))
            FComplete = false;
    }

    // Saves the removal's registry changes, each changed file once.
    void CommitRegistry(platform::TRegistryBatch& batch) {
        if (batch.Begun() && !batch.Commit())
            FComplete = false;
    }

private:
    static bool Exists(const std::string& path) {
        return platform::GetFileAttributes(path) != platform::INVALID_FILE_ATTRIBUTES;
    }

    bool FComplete = true;
};

namespace {

// The special folders of a kind of shell entries, in the order they are searched.
std::pair<int, int> ShellFoldersOf(uint16_t kind) {
    switch (kind) {
    case sekDesktop:
        return {sfiDesktop, sfiCommonDesktopDirectory};
    case sekPrograms:
        return {sfiPrograms, sfiCommonPrograms};
    case sekStartup:
        return {sfiCommonStartup, sfiStartup};
    case sekStartMenu:
        return {sfiStartMenu, sfiCommonStartMenu};
    default:
        return {0, 0};
    }
}

bool BeginsWithIgnoringCase(const std::string& lowerText, const std::string& lowerHead) {
    return !lowerHead.empty() && lowerText.compare(0, lowerHead.size(), lowerHead) == 0;
}

} // namespace

// ==== The worker ====

void TUninstallThread::Create(uint16_t AMode) {
    // Freed through the event loop once its thread has ended; the creating command keeps no reference.
    auto* worker = new TUninstallThread(AMode);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

int TUninstallThread::Pending() {
    return PendingWorkers.load();
}

TUninstallThread::TUninstallThread(uint16_t AMode) : FMode(AMode) {
    ++PendingWorkers;
}

TUninstallThread::~TUninstallThread() {
    // The finished signal comes just before the thread's very end.
    wait();
    --PendingWorkers;
}

void TUninstallThread::run() {
    Execute();
}

void TUninstallThread::Execute() {
    switch (FMode) {
    case umDetail:
        Synchronize(&TUninstallThread::ShowSoftwareDetail);
        break;
    case umClean:
        Synchronize(&TUninstallThread::CleanSelected);
        break;
    default:
        Synchronize(&TUninstallThread::ScanSoftware);
        break;
    }
}

void TUninstallThread::Synchronize(void (TUninstallThread::*Job)()) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    auto job = [this, Job] {
        if (!frmMain || !dm)
            return;
        try {
            (this->*Job)();
        } catch (...) {
            // An error ends the job without a message; its closing step has already run.
        }
    };
    if (QThread::currentThread() == application->thread())
        job();
    else
        QMetaObject::invokeMethod(application, job, Qt::BlockingQueuedConnection);
}

// ==== Shell entries and install folders ====

int TUninstallThread::FindShellEntries(const std::string& Names, uint16_t Kind, TStringList& List) {
    List.Clear();
    const std::string names = Trim(Names);
    if (names.empty())
        return 0;
    TStringList pieces;
    SplitString(names, ',', pieces);
    const auto [firstIndex, secondIndex] = ShellFoldersOf(Kind);
    if (firstIndex == 0)
        return 0;
    const std::string* folders[2] = {&SpecialFolder(firstIndex), &SpecialFolder(secondIndex)};
    for (const std::string& piece : pieces) {
        // A blank name would find the special folder itself, a separator or ".." a place outside it.
        if (!safetyGuard::MayDeleteShellEntry(piece))
            continue;
        for (const std::string* folder : folders) {
            if (folder->empty())
                continue;
            // A file or a folder, links followed as FileExists and DirectoryExists follow them: one
            // question for both, answered from the folder's listing inside the job's lookup scope.
            const std::string path = *folder + "\\" + piece;
            if (platform::EntryKindAt(path) != platform::TEntryKind::Missing)
                List.Add(path);
        }
    }
    return List.Count();
}

const std::string& TUninstallThread::SpecialFolder(int index) {
    auto found = FSpecialFolders.find(index);
    if (found == FSpecialFolders.end()) {
        std::string path;
        GetSpecialFolder(index, path);
        found = FSpecialFolders.emplace(index, std::move(path)).first;
    }
    return found->second;
}

std::string TUninstallThread::ResolveFolderTemplate(const std::string& Template) {
    const std::string text = Trim(Template);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return {};
    const std::string path = text.substr(1);
    // Without a path of its own the template names the root: a drive, Program Files, Windows or System.
    if (Trim(path).empty())
        return {};
    std::string candidate;
    switch (text[0] - '0') {
    case 0:
        candidate = "C:\\" + path;
        break;
    case 1:
        candidate = GetWindowsDir().substr(0, 2) + "\\Program Files\\" + path;
        break;
    case 2:
        candidate = GetWindowsDir() + "\\" + path;
        break;
    case 3:
        candidate = GetSystemDir() + "\\" + path;
        break;
    default:
        return {};
    }
    // The removal deletes this tree: a shared folder reached through ".." or a link is nobody's own.
    if (!platform::DirectoryExists(candidate) || !safetyGuard::MayDeleteFolder(candidate))
        return {};
    return candidate;
}

// ==== Scan ====

void TUninstallThread::ScanSoftware() {
    // One view of the machine for the whole job: each hive and folder listing is checked once.
    const platform::TLookupScope scope;
    TfrmMain& form = *frmMain;
    form.imgScan->setEnabled(false);
    form.lstvRList->setUpdatesEnabled(false);
    form.lstvNList->setUpdatesEnabled(false);
    form.lstvRList->clear();
    form.lstvNList->clear();
    int rCount = 0;
    int nCount = 0;
    int total = 0;
    const TClosingStep closing([&] {
        form.lstvRList->setUpdatesEnabled(true);
        form.lstvNList->setUpdatesEnabled(true);
        form.imgScan->setEnabled(true);
        form.gaugeUS->setValue(0);
        ShowCounter(nCount + rCount, "  Software");
    });

    TUFileOp database("", "");
    TURegistryOp registry;
    TStringList dbNames, installedNames, scratch, info, probeKeys, probeValues;
    registry.ListInstalledNames(installedNames);
    database.ListSoftwareByCategory(dbNames, 0);
    const int ownIcon =
        registry.AddIconToLists(dm->imglstSmallICO, dm->imglstBigICO, platform::GetModuleFileName(), 0);
    if (dbNames.Empty())
        return;
    form.gaugeUS->setMaximum(dbNames.Count());

    std::vector<std::string> lowerInstalled;
    lowerInstalled.reserve(static_cast<size_t>(installedNames.Count()));
    for (const std::string& name : installedNames)
        lowerInstalled.push_back(platform::LowerCase(name));

    for (const std::string& dbName : dbNames) {
        AdvanceGauge();
        // Installed: the first display name that begins with the database name decides.
        const std::string lowerName = platform::LowerCase(dbName);
        bool installed = false;
        for (size_t i = 0; i < lowerInstalled.size(); ++i) {
            if (!BeginsWithIgnoringCase(lowerInstalled[i], lowerName))
                continue;
            if (registry.GetSoftwareRow(installedNames[static_cast<int>(i)], dm->imglstSmallICO,
                                        dm->imglstBigICO, scratch) >= SoftwareRow::LinesPerEntry) {
                AddResultRow(form.lstvNList, ++nCount,
                             {Text(scratch[SoftwareRow::DisplayName]),
                              Text(scratch[SoftwareRow::InstallDate]), Text(scratch[SoftwareRow::Publisher])},
                             platform::StrToIntDef(scratch[SoftwareRow::IconIndex], -1));
                ShowCounter(++total, "  Software");
                installed = true;
            }
            break;
        }
        if (installed)
            continue;

        // Leftover: an existing file or key of the program, else one of its shell entries.
        bool found = database.GetLeftoverItems(dbName, TURegistryOp::KindFile, scratch, 1) > 0 ||
                     database.GetLeftoverItems(dbName, TURegistryOp::KindRegistryKey, scratch, 1) > 0;
        if (!found) {
            const int infoCount = database.GetSoftInfo(dbName, info, probeKeys, probeValues);
            for (uint16_t kind = sekDesktop; kind <= sekStartMenu && !found; ++kind)
                found = FindShellEntries(InfoLine(info, infoCount, 6 + kind), kind, scratch) > 0;
        }
        if (!found)
            continue;
        AddResultRow(form.lstvRList, rCount + 1, {Text(dbName), Text(database.GetCategoryTextByName(dbName))},
                     ownIcon);
        ShowCounter(++total, "  Software");
        ++rCount;
    }
    if (rCount + nCount > 0)
        form.ShowPanel(pmScanResults);
}

// ==== Detail ====

void TUninstallThread::ShowSoftwareDetail() {
    const platform::TLookupScope scope;
    TfrmMain& form = *frmMain;
    const std::string name = Caption(form.labUS1Soft);
    form.gaugeUS->setMaximum(100);
    const TClosingStep closing([&] { form.gaugeUS->setValue(0); });

    TStringList items, info, probeKeys, probeValues, found;
    TURegistryOp registry;
    TUFileOp database("", "");
    form.lstvUS2Registry->clear();
    form.lstvUS2File->clear();
    int fileRows = 0;
    int regRows = 0;

    form.gaugeUS->setValue(5);
    database.GetLeftoverItems(name, 0, items, 1);
    form.gaugeUS->setValue(30);
    for (const std::string& item : items) {
        if (item.empty())
            continue;
        const QString path = Text(item.substr(1));
        switch (item[0] - '0') {
        case TURegistryOp::KindFile:
            AddDetailRow(form.lstvUS2File, fileRows, {path});
            break;
        case TURegistryOp::KindRegistryKey:
            AddDetailRow(form.lstvUS2Registry, regRows, {path, QStringLiteral("Key")});
            break;
        case TURegistryOp::KindRegistryValue:
            AddDetailRow(form.lstvUS2Registry, regRows, {path, QStringLiteral("Value")});
            break;
        default:
            break;
        }
    }

    form.gaugeUS->setValue(50);
    const int infoCount = database.GetSoftInfo(name, info, probeKeys, probeValues);
    form.gaugeUS->setValue(60);
    for (uint16_t kind = sekDesktop; kind <= sekStartMenu; ++kind) {
        FindShellEntries(InfoLine(info, infoCount, 6 + kind), kind, found);
        for (const std::string& entry : found)
            AddDetailRow(form.lstvUS2File, fileRows, {Text(entry)});
    }

    if (probeKeys.Count() >= 1) {
        registry.GetFoldersFromValues(probeKeys, probeValues, found);
        const std::string folderTemplate = InfoLine(info, infoCount, 6);
        if (found.Empty() && !folderTemplate.empty()) {
            const std::string folder = ResolveFolderTemplate(folderTemplate);
            if (!folder.empty())
                found.Add(folder);
        }
        for (const std::string& folder : found) {
            const std::string withBackslash = platform::IncludeTrailingBackslash(folder);
            for (const platform::TFindData& entry : platform::FindFiles(withBackslash + "*.*"))
                if (!(entry.Attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
                    AddDetailRow(form.lstvUS2File, fileRows,
                                 {Text(platform::LowerCase(withBackslash) + entry.Name)});
        }
    }
    form.gaugeUS->setValue(90);
    form.ShowPanel(pmDetail);
}

// ==== Clean ====

int TUninstallThread::RemoveSoftware(const std::string& Name, uint16_t Source) {
    // Nothing goes while Wine runs: the clean asks before it starts, and this stops a clean at the next
    // program when Wine starts during it.
    if (WineRunning())
        return 0;
    // Within the clean's scope when the clean asks; scopes nest.
    const platform::TLookupScope scope;
    TRemoval removal;
    // Each changed registry file is saved once, at the end; also when an error ends the removal, since what
    // it deleted until then (its files among it) is gone.
    platform::TRegistryBatch batch;
    try {
        RemoveSoftwareSteps(Name, Source, removal);
    } catch (...) {
        removal.CommitRegistry(batch);
        throw;
    }
    removal.CommitRegistry(batch);
    return removal.Complete() ? 1 : 0;
}

void TUninstallThread::RemoveSoftwareSteps(const std::string& Name, uint16_t Source, TRemoval& removal) {
    TUFileOp database("", "");
    TURegistryOp registry;
    TStringList info, probeKeys, probeValues, services, processes, folders;

    const int infoCount = database.GetSoftInfo(Name, info, probeKeys, probeValues);
    const std::string folderTemplate = InfoLine(info, infoCount, 6);

    // Install folders, worked out before anything is deleted.
    int folderCount = 0;
    if (probeKeys.Count() >= 1)
        folderCount = registry.GetFoldersFromValues(probeKeys, probeValues, folders);
    if (folderCount == 0 && !folderTemplate.empty()) {
        const std::string folder = ResolveFolderTemplate(folderTemplate);
        if (!folder.empty()) {
            folders.Add(folder);
            folderCount = 1;
        }
    }

    if (infoCount > 0) {
        SplitString(info[3], ',', services);
        for (const std::string& service : services) {
            ShowStatus(" Unloading services - " + service + "...");
            removal.RemoveService(registry, service);
        }
        SplitString(info[4], ',', processes);
        for (const std::string& process : processes) {
            if (!IsProcessRunning(process))
                continue;
            ShowStatus(" Ending process - " + process + "...");
            KillProcessByName(process);
        }
    }

    TStringList items;
    database.GetLeftoverItems(Name, 0, items, 1);
    for (const std::string& item : items) {
        if (item.empty())
            continue;
        const uint16_t kind = static_cast<uint16_t>(item[0] - '0');
        const std::string path = item.substr(1);
        ShowStatus(" Deleting " + path + "...");
        if (kind == TURegistryOp::KindFile)
            removal.DeleteFile(path);
        else
            removal.DeleteRegistryItem(registry, path, kind);
    }

    for (int i = 0; i < folderCount && i < folders.Count(); ++i) {
        ShowStatus(" Deleting " + folders[i] + "...");
        if (removal.DeleteFolderTree(folders[i]))
            TRemoval::RemoveEmptyParent(folders[i]);
    }

    TStringList entries;
    for (uint16_t kind = sekDesktop; kind <= sekStartMenu; ++kind) {
        FindShellEntries(InfoLine(info, infoCount, 6 + kind), kind, entries);
        for (const std::string& entry : entries) {
            ShowStatus(" Deleting " + entry + "...");
            if (kind == sekPrograms || kind == sekStartMenu)
                removal.DeleteMenuEntry(entry);
            else
                removal.DeleteShellEntryFile(entry);
        }
    }

    if (Source == 0) {
        TStringList traces;
        registry.GetLeftoverKeys(Name, traces);
        for (const std::string& trace : traces) {
            if (trace.empty())
                continue;
            ShowStatus(" Deleting " + trace.substr(1) + "...");
            removal.DeleteRegistryItem(registry, trace.substr(1), static_cast<uint16_t>(trace[0] - '0'));
        }
        removal.DeleteUninstallKey(registry, Name);
    }
}

namespace {

// Removes the checked rows of one list in list order; a row whose removal left something behind stays,
// unchecked, and its name is added to Incomplete. Row positions count in 16 bits.
void CleanList(TUninstallThread& worker, QTreeWidget* list, uint16_t source, bool hide,
               std::vector<std::string>& incomplete) {
    for (int i = 0; i < list->topLevelItemCount() && i <= 0xFFFF; ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        row->setSelected(false);
        AdvanceGauge();
        if (row->checkState(0) != Qt::Checked)
            continue;
        row->setSelected(true);
        const std::string name = row->text(1).toStdString();
        if (!hide)
            ShowStatus(" Cleaning " + name + "...");
        if (worker.RemoveSoftware(name, source) == 1) {
            if (!hide)
                ShowStatus(" " + name + " has successfully unloaded.");
        } else {
            row->setSelected(false);
            row->setCheckState(0, Qt::Unchecked);
            incomplete.push_back(name);
        }
    }
}

void DeleteSelectedRows(QTreeWidget* list) {
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->isSelected())
            std::unique_ptr<QTreeWidgetItem>(list->takeTopLevelItem(i)).reset();
}

} // namespace

void TUninstallThread::CleanSelected() {
    // Refused whole while Wine runs, before anything is deleted or ended: the rows stay as they are.
    if (WineRunning()) {
        platform::MessageBox(WineRunningText(), "Error", platform::MB_OK | platform::MB_ICONINFORMATION);
        return;
    }
    const platform::TLookupScope scope;
    TfrmMain& form = *frmMain;
    const bool hide = form.chkHideProcess->isChecked();
    if (!hide) {
        form.panCleanHint->setVisible(true);
        // The window handles no events until the job ends: the line gets its place now, not then.
        if (QLayout* layout = form.panCleanHint->parentWidget()->layout())
            layout->activate();
    }
    form.imgClean->setEnabled(false);
    form.imgCancel->setEnabled(false);
    form.gaugeUS->setMaximum(form.lstvRList->topLevelItemCount() + form.lstvNList->topLevelItemCount());
    form.gaugeUS->setValue(0);
    form.lstvNList->setEnabled(false);
    form.lstvRList->setEnabled(false);
    form.pan_Foot_Bottom->setEnabled(false);
    // Also when an error ends the job half-way, the window comes back usable.
    const TClosingStep closing([&] {
        form.panCleanHint->hide();
        for (QWidget* control : std::initializer_list<QWidget*>{form.imgClean, form.imgCancel, form.lstvRList,
                                                                form.lstvNList, form.pan_Foot_Bottom})
            control->setEnabled(true);
        form.gaugeUS->setValue(0);
    });

    std::vector<std::string> incomplete;
    CleanList(*this, form.lstvNList, 0, hide, incomplete);
    CleanList(*this, form.lstvRList, 1, hide, incomplete);
    platform::MessageBox(CleanEndText(incomplete), "Finish",
                         platform::MB_OK |
                             (incomplete.empty() ? platform::MB_ICONINFORMATION : platform::MB_ICONWARNING));
    DeleteSelectedRows(form.lstvRList);
    DeleteSelectedRows(form.lstvNList);
    const int left = form.lstvRList->topLevelItemCount() + form.lstvNList->topLevelItemCount();
    ShowCounter(left, " Software");
    form.panCleanHint->hide();
    if (left == 0)
        form.ShowPanel(pmWelcome);
}
