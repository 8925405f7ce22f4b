#pragma once
// Everything Tolvane, Krandel and the stand-in ask of the operating system.
// One backend per system (linux/, win32/) implements it; fake/ serves the
// tests above this layer. Failures are return values, never exceptions or
// messages: a supervisor that runs unattended must never stop on a refusal.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::platform {

// How a started program's first window is shown.
enum class ShowState { Hidden = 0, Normal = 1, Minimised = 2 };

struct ProcessInfo {
    std::uint32_t pid = 0;
    // The executable file name as the system knows it ("VX8_Player.exe" on
    // Windows, "VX8_Player" on Linux), never cut short.
    std::string imageName;
};

// What the system answered to "is there a window with this title": found,
// absent, or unknown when it could not answer (a display that did not reply
// in time, a lost connection, a reply that could not be read). Unknown is
// never taken as absent: a second copy of a player on air is worse than one
// more tick of waiting.
enum class WindowPresence { Absent = 0, Found = 1, Unknown = 2 };

// Whether a tool's window still takes the system's questions: it answered
// the question asked at the previous call about it, it did not (a window
// whose program no longer reads its messages), or unknown (no such window,
// a window that does not take part in the question, a system that could
// not be asked). Unknown is never taken as not answering.
enum class WindowResponse { Answers = 0, NotAnswering = 1, Unknown = 2 };

// The outcome of a start. Tests read as a bool ("if (!startProgram(...))").
struct StartResult {
    bool started = false;
    // Why it was not started: the system's message for its error code
    // (strerror on Linux, FormatMessage on Windows, in the user's language),
    // or ours when the request itself could not be made (an empty path, an
    // argument the system cannot carry). Empty when started.
    std::string failure;
    explicit operator bool() const { return started; }
    static StartResult success() { return {true, {}}; }
    static StartResult refused(std::string why) { return {false, std::move(why)}; }
};

// One process watched for its end. The system itself tells when it ends (a
// process descriptor on Linux, the process handle on Windows), so nothing
// reads the process list again to notice it. What the system gave is held
// until the watch is destroyed.
class ProcessEndWatch {
public:
    virtual ~ProcessEndWatch() = default;
    virtual std::uint32_t pid() const = 0;
    // What an event loop waits on: on Linux a descriptor that becomes
    // readable once the process has ended, on Windows the process handle,
    // signalled once it has ended. Owned by the watch.
    virtual std::intptr_t waitable() const = 0;
    // Whether it has ended, without waiting.
    virtual bool ended() = 0;
    // How it ended, where the system tells: its exit code on Windows, once it
    // has ended. Nothing on Linux (Tolvane is not the parent of what it
    // starts, so no status can be asked for) and nothing while it runs.
    virtual std::optional<std::uint32_t> exitCode() = 0;
};
using ProcessEndWatches = std::vector<std::unique_ptr<ProcessEndWatch>>;

// How the system's log ranks a line.
enum class LogSeverity { Information, Warning, Error };

// The four numbers and the text of the program's version resource.
struct VersionInfo {
    int major = 0;
    int minor = 0;
    int revision = 0;
    std::string fileDescription;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Processes -------------------------------------------------------------

    // Starts applicationPath with the argument text (split by the Windows
    // command-line rules where the system wants an argument vector), in
    // workingFolder (the caller's own when empty). Tells whether the program
    // was started and, when not, why, in the system's own words where the
    // system refused; a working folder that cannot be entered is a refusal,
    // never a start somewhere else. Never waits for the program and never
    // runs a shell. All text is UTF-8.
    virtual StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                                     const std::string& workingFolder = {}) = 0;

    // Ends, forcibly and without waiting, every process of the current user
    // whose executable file name is baseName plus executableSuffix(), compared
    // without regard to case; never the calling process itself.
    virtual void killProcessesNamed(const std::string& baseName) = 0;

    virtual std::vector<ProcessInfo> listProcesses() = 0;

    // Working set (resident memory) in bytes, or nothing when the process is
    // gone or cannot be read.
    virtual std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) = 0;

    virtual std::uint32_t ownProcessId() = 0;

    // The processes of this user's session (Linux: of this user) now running
    // with the executable file name baseName + executableSuffix(), compared as
    // killProcessesNamed compares it, each watched for its end: result[i] for
    // baseNames[i]; never the calling process. A process that is gone before
    // it could be held, or that the system does not let us wait on, is left
    // out. Nothing at all when the process list could not be read: "none
    // running" is an answer, a list that could not be read is not.
    virtual std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(
        const std::vector<std::string>& baseNames) = 0;

    // Windows ---------------------------------------------------------------

    // Does a top-level window titled exactly `title` (ASCII case-insensitive)
    // exist, shown or hidden? Several titles are answered in one sweep of
    // the window list; result[i] answers titles[i]. One call waits at most
    // about a second for the system in all, and a backend that has just met
    // a system that does not answer may answer Unknown at once for a while
    // rather than wait again.
    virtual std::vector<WindowPresence> topLevelWindowsPresence(const std::vector<std::string>& titles) = 0;
    WindowPresence topLevelWindowPresence(const std::string& title) {
        try {
            const auto answers = topLevelWindowsPresence({title});
            return answers.empty() ? WindowPresence::Unknown : answers.front();
        } catch (...) {
            return WindowPresence::Unknown;  // no memory for a one-title list
        }
    }

    // Do the windows titled titles[i] (as topLevelWindowsPresence finds them)
    // still answer? Windows: what the system itself uses to call a window not
    // responding (IsHungAppWindow). X11: _NET_WM_PING, for the windows that
    // list it in WM_PROTOCOLS; each call reads the replies that came since
    // the previous one and asks again, so NotAnswering means "the question
    // asked at the previous call about this title got no reply" (a late
    // reply to an older question does not count), and the first call about
    // a title answers Unknown, as does a window the previous call did not
    // ask about (a window is remembered from one call to the next only).
    // Windows answers from the system's own judgement at once, with no
    // earlier call needed. Never waits for a tool: one call waits at most
    // about a second for the system (the X server), as
    // topLevelWindowsPresence does. Several windows with one title answer
    // if any of them does.
    virtual std::vector<WindowResponse> windowsResponse(const std::vector<std::string>& titles) = 0;

    // Found or not, for tests and benchmarks that look at windows they made
    // themselves. Nothing that starts a program may decide on these: they
    // read Unknown as "no".
    bool topLevelWindowExists(const std::string& title) {
        return topLevelWindowPresence(title) == WindowPresence::Found;
    }
    std::vector<bool> topLevelWindowsExist(const std::vector<std::string>& titles) {
        std::vector<bool> found;
        for (const auto answer : topLevelWindowsPresence(titles)) found.push_back(answer == WindowPresence::Found);
        return found;
    }

    // Clock -----------------------------------------------------------------

    // Milliseconds since the system started, as a raw 32-bit reading that
    // wraps after 49.7 days (MonotonicTickCount undoes the wrap).
    virtual std::uint32_t rawTickCount() = 0;

    // Local wall-clock time, whole seconds.
    virtual std::chrono::local_seconds localNow() = 0;

    // Files -----------------------------------------------------------------

    virtual bool fileExists(const std::string& path) = 0;

    // Full path of the running executable (UTF-8).
    virtual std::string ownExecutablePath() = 0;

    // The running program's version resource, if it has one.
    virtual std::optional<VersionInfo> ownVersion() = 0;
};

// The backend of the system this was built for.
std::unique_ptr<Platform> createSystemPlatform();

// Many waitables behind one, so that an event loop waits on a single
// descriptor however many processes are watched: an event loop that polls
// every descriptor it holds at each of its wake-ups would look at thirty
// process descriptors four times a second. Linux: an epoll set.
class WaitableSet {
public:
    virtual ~WaitableSet() = default;
    // What the event loop waits on: readable while one of the set is.
    virtual std::intptr_t waitable() const = 0;
    // Adds `waitable` under `key`; false if the system refused it.
    virtual bool add(std::intptr_t waitable, std::uint64_t key) = 0;
    // Removes it; to be done before it is closed.
    virtual void remove(std::intptr_t waitable) = 0;
    // The keys of those signalled now, without waiting.
    virtual std::vector<std::uint64_t> signalled() = 0;
};
// nullptr where the system has none, or where its toolkit already waits for
// many without a cost per wake-up (Windows, whose handles the toolkit waits
// for on the system's thread pool).
std::unique_ptr<WaitableSet> createWaitableSet();

// The arguments the program was started with, after its own name, in UTF-8.
// Linux: argv[1..argc-1] as given. Windows: the process's command line as
// the system keeps it (wide characters), split by the system's rules: main's
// argv holds it in the ANSI code page, bytes that are not UTF-8, and a
// western code page has no "Ł" at all (it becomes "L").
std::vector<std::string> commandLineArguments(int argc, char** argv);

// ".exe" on Windows, "" on Linux: the one place that knows the suffix.
const char* executableSuffix();

// '\\' on Windows, '/' on Linux.
char pathSeparator();

// Whether the settings store lives in the system's own store (the registry)
// rather than in an INI file.
bool settingsInSystemStore();

// A descriptor that becomes readable once the system has asked the process
// to end (SIGTERM, SIGINT or SIGHUP on Linux), so the program can end through
// its own path (removing its notification-area icon) from its event loop; -1
// where the system has no such request (Windows ends a GUI program through
// the session instead). The first call installs the handlers.
int terminationRequests();
// Once that descriptor is readable: which request arrived ("SIGTERM",
// "SIGINT", "SIGHUP"), taken out of it; "" when none was waiting.
std::string takeTerminationRequest();

// What a message the window system sent to one of the program's windows says
// about how the program may end, as the toolkit hands messages to its native
// filters. Windows asks a program to end through messages: the window's own
// close command (its close box, its system menu, Alt+F4) sends SC_CLOSE and
// then WM_CLOSE; taskkill without /f and the task manager's "End task" post
// WM_CLOSE alone. Anything else, and every message on Linux, is Other.
enum class WindowMessage { Other, CloseCommand, Close };
WindowMessage classifyWindowMessage(const void* nativeMessage);

// The system's session the process runs in: Windows' session number (0 is the
// services' session, where no operator sees a window); nothing where the
// system has no such thing (Linux) or could not say.
std::optional<std::uint32_t> ownSessionId();

// Watches the desktop's notification area, so that standby can react when
// it goes away (a panel that crashed or was restarted) and when it comes
// back, from events rather than by looking on a timer.
class NotificationAreaWatch {
public:
    virtual ~NotificationAreaWatch() = default;
    // Becomes readable when the area may have changed; -1 when the system
    // needs no watching.
    virtual int descriptor() const = 0;
    // Takes in what arrived and tells whether an area is there now; nothing
    // when that is unknown (the display did not answer).
    virtual std::optional<bool> areaPresent() = 0;
};
// A watch of the area of the display Tolvane shows on. On Windows nothing
// needs watching (the toolkit puts the icon back when the shell restarts):
// the watch's descriptor is -1.
std::unique_ptr<NotificationAreaWatch> watchNotificationArea();

// The current user, as the system names them for access checks: the user id
// on Linux, the security identifier (SID) on Windows; "" when it cannot be
// read. Names of things only this user may reach carry it.
std::string userIdentity();

// The lock that keeps one Tolvane: something the system itself keeps, so no
// folder has to be usable for it and nothing of it outlives its holder.
// Windows: a named kernel mutex in the machine-wide namespace, which any
// signed-in user may wait on; a wait that answers "abandoned" (a holder that
// ended without letting go) is ours as much as a plain one. Linux: a listening
// socket in the abstract namespace, freed by the kernel with its process.
enum class InstanceLockAttempt {
    Taken,    // ours now
    Held,     // held by another process that may be a Tolvane of ours: on
              // Linux one of this user's (its peer credentials say so), on
              // Windows any holder
    Foreign,  // the system keeps it for someone else: on Windows another user
              // made it and the system refuses it to us; on Linux another
              // user holds the name
    Failed    // no lock: the system gave none, or (Linux) a holder that could
              // not be asked who it is
};
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    // Takes it without waiting, or finds who has it. Taking it again while it
    // is held answers Taken.
    virtual InstanceLockAttempt tryTake() = 0;
    // Lets go (the daily restart hands over); tryTake() may take it back.
    virtual void letGo() = 0;
    // The system's words for the last Foreign or Failed answer.
    virtual std::string failure() const = 0;
    // Whether the lock is also the socket a second start talks to (Linux).
    // Where it is not (Windows), the running Tolvane answers on a named pipe
    // of its own.
    virtual bool isSocket() const = 0;
    // Where the lock is the socket: a new descriptor of the listening socket
    // for the caller (who closes it) while the lock is held; and, after
    // tryTake() answered Held, the connection it made to the holder to ask
    // who it is, handed over once. -1 otherwise.
    virtual std::intptr_t listeningDescriptor() = 0;
    virtual std::intptr_t holderConnection() = 0;
};
// `name` is the lock's own part; the backend adds what the system needs
// ("Global\" on Windows). Nothing when the system has no such lock at all.
std::unique_ptr<InstanceLock> createInstanceLock(const std::string& name);
// Whether the lock is one per machine (Windows: one Tolvane supervises the
// station whoever else logs on) rather than one per user (Linux).
bool instanceLockIsMachineWide();

// A file name folded as the system compares file names: upper case by the
// system's own table on Windows ("Tolvane.exe" and "tolvane.exe" are one
// program), unchanged on Linux.
std::string foldedFileName(const std::string& name);

// A process of the machine with its terminal services session and that
// session's user ("DOMAIN\user"; "" when the system did not say).
struct SessionProcess {
    std::uint32_t pid = 0;
    std::uint32_t session = 0;
    std::string user;
};
// The processes other than this one whose executable file name equals
// `imageName` as the system compares file names, with their sessions; and
// this process's own session. Nothing when the system could not list them
// (and always on Linux, where the lock is one per user).
std::optional<std::vector<SessionProcess>> processesInSessions(const std::string& imageName);
std::optional<std::uint32_t> ownSession();

// Hands one line to the system's log under `identifier` (the program's
// name), never waiting: a line the log does not take at once is dropped.
// Linux: syslog through /dev/log (the systemd journal collects it).
// Windows: the Application event log, source `identifier`, written by a
// background thread; Sent means the line was queued for it, Dropped that
// its small queue was full. The event ID is the number the line begins with
// (a journal line's event number), with the severity bits of its message in
// the table compiled into the programs; a line without one is logged with
// no message of its own. NotSupported: a system with no log to send to.
enum class SystemLogResult { Sent, Dropped, NotSupported };
SystemLogResult sendToSystemLog(const std::string& identifier, LogSeverity severity, const std::string& message);
// Waits, at most `timeout`, until the lines handed over so far are in the
// system's log: Tolvane ends without running destructors, and its closing
// line must still get there. Nothing to wait for on Linux.
void flushSystemLog(std::chrono::milliseconds timeout);

// Lets the process `pid` bring its window to the front (Windows gives the
// foreground only to the process the user last worked with; without this the
// window only flashes in the taskbar). Nothing to do on X11.
void allowForegroundFor(std::uint32_t pid);

}  // namespace tolvane::platform
