#pragma once

#include "platform/stringList.h"

#include <cstdint>
#include <map>
#include <QThread>
#include <string>

// The worker's jobs: 0 scan, 1 a program's detail, 2 clean; any other value scans.
enum UninstallMode : uint16_t {
    umScan = 0,
    umDetail = 1,
    umClean = 2,
};

// The pairs of special folders in which a program's shell entries are looked for, first folder first:
// 1 desktop (the user's, then all users'), 2 programs menu (the user's, then all users'), 3 startup (all
// users', then the user's), 4 start menu (the user's, then all users').
enum ShellEntryKind : uint16_t {
    sekDesktop = 1,
    sekPrograms = 2,
    sekStartup = 3,
    sekStartMenu = 4,
};

class TRemoval;

// Where a result row keeps its image index (into the large-icon list of dm), in its first column.
inline constexpr int RowImageIndexRole = Qt::UserRole + 1;

// The worker of the main window: a thread whose only action is to hand its whole job to the main thread in
// one blocking call and wait for it. A job therefore starts once the command that created the worker has
// returned to the event loop, runs on the main thread and works on frmMain's controls directly; while it
// runs the window handles no events, and only the counter, the status line and the gauge repaint, each
// when the job asks. An error inside a job ends it without a message.
class TUninstallThread : public QThread {
    Q_OBJECT
public:
    // Starts a worker for one mode and returns at once; the worker frees itself when its job is done.
    static void Create(uint16_t AMode);
    // Workers created and not yet freed (the tests wait for them to finish).
    static int Pending();

    // A worker that is not started: its jobs can be run directly on the main thread.
    explicit TUninstallThread(uint16_t AMode);
    ~TUninstallThread() override;

    // The full paths of the entries named in the comma list Names that exist in the two folders of Kind,
    // each name in the first folder and then in the second; the number found. Blank names and names that
    // could lead out of the folder (separators, wildcards, "..") are passed over.
    int FindShellEntries(const std::string& Names, uint16_t Kind, platform::TStringList& List);
    // The program folder that an install-folder template ("1Vendor\Foo": a root digit and a path) names
    // when it exists and may be the program's own, else empty text.
    std::string ResolveFolderTemplate(const std::string& Template);
    // Removes one program (Source 0: an installed row named by its display name, else a leftover row named
    // by its database name); 1 when everything that was to go went, 0 when a deletion failed or when a
    // wineserver runs for the prefix (then nothing is touched).
    int RemoveSoftware(const std::string& Name, uint16_t Source);

    // The three jobs.
    void ScanSoftware();
    void ShowSoftwareDetail();
    void CleanSelected();

protected:
    void run() override;

private:
    void Execute();
    // Runs Job on the main thread and waits for it; on the main thread itself it runs it at once, since a
    // blocking call from the main thread to itself would never return.
    void Synchronize(void (TUninstallThread::*Job)());
    // The steps of a removal in their order; Removal records whether each left its item behind.
    void RemoveSoftwareSteps(const std::string& Name, uint16_t Source, TRemoval& Removal);

    // The special folder of an index, asked of the machine once per worker: the folders do not move during
    // a job, and the scan would otherwise read them for every program.
    const std::string& SpecialFolder(int index);

    uint16_t FMode = umScan;
    std::map<int, std::string> FSpecialFolders;
};
