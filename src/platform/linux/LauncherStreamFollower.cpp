// SPDX-License-Identifier: MIT
#include "platform/linux/LauncherStreamFollower.h"

#include "platform/linux/SdJournal.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <systemd/sd-journal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <utility>

namespace exitwise::platform {

namespace {

Q_LOGGING_CATEGORY(lcStreams, "exitwise.platform.streams", QtInfoMsg)

using Clock = std::chrono::steady_clock;

// Entries read per turn of the event loop; a burst is finished in later turns.
constexpr int kEntriesPerTurn = 500;
// Without an inotify descriptor the journal is read at this pace.
constexpr std::chrono::milliseconds kFallbackPoll(1000);
// A stream stays remembered while its process lives or it wrote within this time; the memory
// is looked over at most this often and never holds more than kMaxRemembered streams.
constexpr auto kForgetAfter = std::chrono::minutes(10);
constexpr auto kPruneEvery = std::chrono::minutes(1);
constexpr std::size_t kMaxRemembered = 4096;

constexpr std::string_view kDesktopSuffix = ".desktop";

std::optional<int> pidOf(std::optional<std::string_view> text)
{
    if (!text) {
        return std::nullopt;
    }
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || ptr != text->data() + text->size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

// GNOME Shell names the stream after the GIO application ID, which keeps the ".desktop" suffix.
std::string_view desktopId(std::string_view identifier)
{
    if (identifier.size() > kDesktopSuffix.size() && identifier.ends_with(kDesktopSuffix)) {
        identifier.remove_suffix(kDesktopSuffix.size());
    }
    return identifier;
}

bool processGone(int pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

std::uint64_t monotonicUsec()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000
           + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

} // namespace

struct LauncherStreamFollower::State
{
    State(LauncherStreamFollower* follower, Options o)
        : q(follower)
        , options(std::move(o))
    {}

    using Key = std::pair<std::string, int>;

    LauncherStreamFollower* q;
    Options options;
    sdjournal::Handle journal;
    // Children of the follower, let go with deleteLater: stop() may run inside their signals.
    QSocketNotifier* notifier = nullptr;
    QTimer* timer = nullptr;
    // When each reported stream last wrote.
    std::map<Key, Clock::time_point> reported;
    Clock::time_point lastPrune;
    bool inotify = false;

    void readNew();
    // Reports the current entry when it is news; true when a receiver of the signal stopped or
    // deleted the follower meanwhile.
    [[nodiscard]] bool report(sd_journal* j);
    void scheduleNext(bool more);
    [[nodiscard]] bool firstSight(std::string_view identifier, int pid);
    void prune(Clock::time_point now);
};

void LauncherStreamFollower::State::readNew()
{
    sd_journal* j = journal.get();
    if (j == nullptr) {
        return;
    }
    // Takes in rotated, vacuumed and new files; the read position survives it.
    const int change = sd_journal_process(j);
    if (change < 0) {
        qCDebug(lcStreams) << "journal change notice failed:" << std::strerror(-change);
    }
    for (int n = 0; n < kEntriesPerTurn; ++n) {
        const int r = sd_journal_next(j);
        if (r <= 0) {
            if (r < 0) {
                qCDebug(lcStreams) << "cannot read the journal:" << std::strerror(-r);
            }
            scheduleNext(false);
            return;
        }
        if (report(j)) {
            return;
        }
    }
    scheduleNext(true);
}

bool LauncherStreamFollower::State::report(sd_journal* j)
{
    const auto identifier = sdjournal::field(j, "SYSLOG_IDENTIFIER");
    const auto pid = pidOf(sdjournal::field(j, "_PID"));
    if (!identifier || !pid || sdjournal::isOwnEntry(j)) {
        return false;
    }
    const std::string_view id = desktopId(*identifier);
    if (id.empty() || (options.isApplication && !options.isApplication(id))) {
        return false;
    }
    if (!firstSight(id, *pid)) {
        return false;
    }
    std::uint64_t usec = 0;
    const double time = sd_journal_get_realtime_usec(j, &usec) >= 0 ? static_cast<double>(usec) / 1e6 : 0.0;
    const QPointer<LauncherStreamFollower> alive(q);
    emit q->applicationOutput(QString::fromUtf8(id.data(), static_cast<qsizetype>(id.size())), *pid, time);
    return alive.isNull() || journal.get() != j;
}

void LauncherStreamFollower::State::scheduleNext(bool more)
{
    if (more) {
        timer->start(0);
        return;
    }
    if (!inotify) {
        timer->start(kFallbackPoll);
        return;
    }
    // Journals on network file systems give no reliable notices: read them when sd-journal says.
    std::uint64_t timeout = 0;
    if (sd_journal_get_timeout(journal.get(), &timeout) > 0 && timeout != UINT64_MAX) {
        const std::uint64_t now = monotonicUsec();
        const std::uint64_t waitMs = timeout > now ? (timeout - now + 999) / 1000 : 0;
        timer->start(std::chrono::milliseconds(std::min<std::uint64_t>(waitMs, 60'000)));
    }
}

bool LauncherStreamFollower::State::firstSight(std::string_view identifier, int pid)
{
    const Clock::time_point now = Clock::now();
    if (now - lastPrune >= kPruneEvery) {
        prune(now);
    }
    Key key(identifier, pid);
    const auto it = reported.find(key);
    if (it != reported.end()) {
        it->second = now;
        return false;
    }
    if (reported.size() >= kMaxRemembered) {
        reported.erase(std::min_element(reported.begin(), reported.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; }));
    }
    reported.emplace(std::move(key), now);
    return true;
}

void LauncherStreamFollower::State::prune(Clock::time_point now)
{
    lastPrune = now;
    std::erase_if(reported, [now](const auto& item) {
        return now - item.second >= kForgetAfter && processGone(item.first.second);
    });
}

LauncherStreamFollower::LauncherStreamFollower(Options options, QObject* parent)
    : QObject(parent)
    , m_state(std::make_unique<State>(this, std::move(options)))
{}

LauncherStreamFollower::~LauncherStreamFollower()
{
    stop();
}

bool LauncherStreamFollower::start()
{
    stop();
    State& s = *m_state;

    int r = 0;
    sdjournal::Handle journal = sdjournal::open(s.options.journalDirectory, &r);
    if (!journal) {
        qCDebug(lcStreams) << "cannot open the journal:" << std::strerror(-r)
                           << "; launch streams not followed";
        return false;
    }
    sd_journal* j = journal.get();

    // The descriptor first: files that appear from here on are noticed.
    const int fd = sd_journal_get_fd(j);
    const std::string uidMatch = "_UID=" + std::to_string(s.options.uid);
    if (sd_journal_add_match(j, "_TRANSPORT=stdout", 0) < 0
        || sd_journal_add_match(j, uidMatch.data(), uidMatch.size()) < 0) {
        qCDebug(lcStreams) << "cannot filter the journal; launch streams not followed";
        return false;
    }
    // Stand on the newest stream line. With none at all, the tail is no place to stand on: the
    // next read would give only the last of the lines written meanwhile, so start at the head.
    r = sd_journal_seek_tail(j);
    if (r >= 0) {
        r = sd_journal_previous(j);
        if (r == 0) {
            r = sd_journal_seek_head(j);
        }
    }
    if (r < 0) {
        qCDebug(lcStreams) << "cannot seek in the journal:" << std::strerror(-r);
        return false;
    }

    s.journal = std::move(journal);
    s.timer = new QTimer(this);
    s.timer->setSingleShot(true);
    connect(s.timer, &QTimer::timeout, this, [this] { m_state->readNew(); });
    s.inotify = fd >= 0;
    if (s.inotify) {
        s.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(s.notifier, &QSocketNotifier::activated, this, [this] { m_state->readNew(); });
    } else {
        qCDebug(lcStreams) << "no journal change notices:" << std::strerror(-fd) << "; reading every"
                           << kFallbackPoll.count() << "ms";
    }
    s.scheduleNext(false);
    return true;
}

void LauncherStreamFollower::stop()
{
    State& s = *m_state;
    if (s.notifier != nullptr) {
        s.notifier->setEnabled(false);
        s.notifier->deleteLater();
        s.notifier = nullptr;
    }
    if (s.timer != nullptr) {
        s.timer->stop();
        s.timer->deleteLater();
        s.timer = nullptr;
    }
    s.journal.reset();
    s.reported.clear();
}

bool LauncherStreamFollower::isFollowing() const
{
    return m_state->journal != nullptr;
}

} // namespace exitwise::platform
