#include "telemetry/Telemetry.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// Readings waiting to be published; more are dropped, the oldest first.
constexpr size_t kMostQueued = 256;
// Readings handed to the MQTT library and not yet written to the socket: a broker that does not
// take them holds back the publishing, not the memory.
constexpr int kMostInFlight = 64;
constexpr int kKeepAliveS = 30;
constexpr auto kFirstRetry = 1s;
constexpr auto kLastRetry = 30s;
constexpr int kQosReading = 0;
constexpr int kQosKept = 1;  // status, verdict and discovery: acknowledged by the broker

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

struct TTelemetry::TShared {
    enum class TKind { Reading, Discovery, Status, Verdict };
    struct TQueued {
        TDeviceReading Reading;
        std::shared_ptr<const std::string> Cell;
    };
    struct TSent {
        TKind Kind;
        uint64_t Generation;  // of the status or verdict
    };

    TShared(const TTelemetrySettings& settings, const TTelemetryTopics& topics, TNotice notice)
        : Settings(settings),
          Topics(topics),
          Where(settings.Broker.Text()),
          Notice(std::move(notice)) {}
    ~TShared() {
        if (Mosq != nullptr) mosquitto_destroy(Mosq);
    }

    // The two threads' work.
    void Run();
    void Publish();
    // How long the connection's thread waits for its socket at a time: a second, and no longer
    // than the closing allows.
    int LoopWaitMs();

    // Callbacks of the MQTT library, on the connection's thread.
    void Accepted();
    void Refused(int code);
    void Acknowledged(int mid);
    void LibraryError(const char* text);

    // The connection ended or could not be made: `cause` is said unless it was said last.
    void Lost(const std::string& cause);
    // With the lock: what waits is dropped and counted.
    void DropQueued();
    void Sent(int mid, TSent sent);
    void Done(TSent sent);
    void Say(const std::string& text);  // with the lock
    bool AllDelivered() const;          // with the lock
    bool ClosingOver() const;           // with the lock: closing, and nothing left to wait for
    bool WorkToPublish() const;         // with the lock

    const TTelemetrySettings Settings;
    const TTelemetryTopics Topics;
    const std::string Where;  // the broker, for the notices
    const TNotice Notice;
    mosquitto* Mosq = nullptr;

    std::mutex Lock;
    std::condition_variable Changed;
    // Everything below is guarded by Lock.
    bool Connected = false;     // the broker accepted the connection and it was not lost since
    bool WasAway = false;       // since the last accepted connection
    std::string SaidCause;      // the trouble said last: "away", or "refused: <cause>"
    std::string Refusal;        // why the broker refused the last connection
    bool LoginRefused = false;  // the last attempt's cause: no point waiting at the close
    std::string LibraryWords;   // the library's last error line (TLS errors say why here)
    std::deque<TQueued> Queue;
    std::shared_ptr<const std::string> Cell;
    int InFlight = 0;
    uint64_t Dropped = 0, DroppedSaid = 0;
    std::map<int, TSent> Outstanding;  // by message id
    std::set<int> EarlyAcks;           // acknowledged before their sender saw their id
    // Made when the tester's port opens: its first status, published as soon as the broker takes
    // the connection, is "online", whoever gets there first.
    bool TesterOnline = true;
    bool StatusDirty = false;  // to be published
    uint64_t StatusGeneration = 0;
    bool StatusAwaited = false;  // published, not acknowledged yet
    std::optional<std::string> VerdictText;
    bool VerdictDirty = false;
    uint64_t VerdictGeneration = 0;
    bool DiscoveryDirty = false;
    bool KeptFirst = false;  // status and verdict go before the readings (a new connection)
    bool Closing = false;
    TClock::time_point Deadline;
    bool Disconnecting = false;  // the publisher said goodbye: the connection's end is no loss
    bool Silent = false;         // Close() returned: nothing more is said
};

TTelemetry::TTelemetry(const TTelemetrySettings& settings, const std::string& port, TNotice notice)
    : FTopics(settings.Station, port),
      FShared(std::make_shared<TShared>(settings, FTopics, std::move(notice))) {
    InitLibraryOnce();
    TShared& s = *FShared;
    s.Mosq = mosquitto_new(nullptr, true, &s);
    if (s.Mosq == nullptr) {
        std::lock_guard lock(s.Lock);
        s.Say("telemetry: cannot make an MQTT client: " + std::string(std::strerror(errno)));
        return;
    }
    mosquitto_threaded_set(s.Mosq, true);
    mosquitto_connect_callback_set(s.Mosq, [](mosquitto*, void* self, int code) {
        auto* shared = static_cast<TShared*>(self);
        code == 0 ? shared->Accepted() : shared->Refused(code);
    });
    mosquitto_publish_callback_set(s.Mosq, [](mosquitto*, void* self, int mid) {
        static_cast<TShared*>(self)->Acknowledged(mid);
    });
    mosquitto_log_callback_set(s.Mosq, [](mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) static_cast<TShared*>(self)->LibraryError(text);
    });
    const TMqttLocation& broker = settings.Broker;
    // A password goes with a user only: MQTT has no password alone.
    if (!broker.User.empty()) {
        mosquitto_username_pw_set(s.Mosq, broker.User.c_str(),
                                  settings.Password.empty() ? nullptr : settings.Password.c_str());
    }
    if (broker.Tls) {
        if (settings.CaFile.empty()) {
            mosquitto_int_option(s.Mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            mosquitto_tls_set(s.Mosq, settings.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    mosquitto_will_set(s.Mosq, FTopics.Status.c_str(), sizeof kOffline - 1, kOffline, kQosKept,
                       true);
    FConnection = std::thread([shared = FShared] { shared->Run(); });
    FPublisher = std::thread([shared = FShared] { shared->Publish(); });
}

TTelemetry::~TTelemetry() {
    if (!FClosed) Close(kCloseBound);
}

void TTelemetry::TesterConnected(bool connected) {
    std::lock_guard lock(FShared->Lock);
    // Said again, it is no news: a broker that took the connection before the caller said
    // "online" has had it already, and would otherwise get it twice.
    if (FShared->TesterOnline == connected) return;
    FShared->TesterOnline = connected;
    FShared->StatusDirty = true;
    FShared->StatusAwaited = true;
    FShared->Changed.notify_all();
}

void TTelemetry::SetCell(const std::optional<std::string>& cell) {
    auto named = cell ? std::make_shared<const std::string>(*cell) : nullptr;
    std::lock_guard lock(FShared->Lock);
    FShared->Cell = std::move(named);
}

void TTelemetry::Reading(const TDeviceReading& reading) {
    TShared& s = *FShared;
    std::lock_guard lock(s.Lock);
    // Queued while the first connection is being made: a broker on the lab's network answers
    // before the queue fills. Dropped once it is known to be away.
    if (s.WasAway || s.Closing) {
        ++s.Dropped;
        return;
    }
    if (s.Queue.size() >= kMostQueued) {
        s.Queue.pop_front();
        ++s.Dropped;
    }
    s.Queue.push_back({reading, s.Cell});
    // The publisher waits only while nothing can be published: one wake-up per batch.
    if (s.Queue.size() == 1 && s.InFlight < kMostInFlight) s.Changed.notify_all();
}

void TTelemetry::Verdict(const std::string& json) {
    std::lock_guard lock(FShared->Lock);
    std::string payload = json;
    while (!payload.empty() && payload.back() == '\n') payload.pop_back();  // one JSON object
    FShared->VerdictText = std::move(payload);
    FShared->VerdictDirty = true;
    ++FShared->VerdictGeneration;
    FShared->Changed.notify_all();
}

uint64_t TTelemetry::Dropped() const {
    std::lock_guard lock(FShared->Lock);
    return FShared->Dropped;
}

std::string TTelemetry::Close(std::chrono::milliseconds bound) {
    if (FClosed) return {};
    FClosed = true;
    TShared& s = *FShared;
    std::unique_lock lock(s.Lock);
    s.Closing = true;
    s.Deadline = TClock::now() + bound;
    s.Changed.notify_all();
    // Both threads end by the deadline and the goodbye's second: every wait of theirs is bounded
    // by it (the connection is made without blocking, a host that does not answer included).
    lock.unlock();
    if (FPublisher.joinable()) FPublisher.join();
    if (FConnection.joinable()) FConnection.join();
    lock.lock();
    s.Silent = true;
    std::string words;
    if (s.Dropped > s.DroppedSaid) {
        words = "telemetry: " + std::to_string(s.Dropped - s.DroppedSaid) +
                " readings were not published to the broker at " + s.Where;
    }
    if (s.VerdictText) {
        words += std::string(words.empty() ? "telemetry: " : "; ") +
                 "the verdict did not reach the broker at " + s.Where;
    }
    return words;
}

void TTelemetry::TShared::Run() {
    const TMqttLocation& broker = Settings.Broker;
    // Connecting never blocks (but for resolving the broker's name): the loop below completes
    // it, so a host that takes the connection and a host that never answers alike end with the
    // closing's deadline.
    int code = mosquitto_connect_async(Mosq, broker.Host.c_str(), broker.Port, kKeepAliveS);
    auto retry = std::chrono::duration_cast<TClock::duration>(kFirstRetry);
    for (;;) {
        if (code == MOSQ_ERR_SUCCESS) code = mosquitto_loop(Mosq, LoopWaitMs(), 1);
        if (code == MOSQ_ERR_SUCCESS) {
            std::lock_guard lock(Lock);
            if (Connected) retry = kFirstRetry;
            if (Closing && TClock::now() >= Deadline + 1s) break;  // the goodbye never went out
            continue;
        }
        {
            const int error = errno;
            std::unique_lock lock(Lock);
            if (Disconnecting) break;
            std::string cause = Refusal;
            if (cause.empty()) cause = LibraryWords;
            if (cause.empty()) {
                cause = code == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(code);
            }
            Refusal.clear();
            LibraryWords.clear();
            lock.unlock();
            Lost(cause);
            lock.lock();
            // The back-off ends early for a goodbye, and at the closing's deadline.
            const auto until = TClock::now() + retry;
            const auto over = [&] {
                return Disconnecting || (Closing && TClock::now() >= Deadline);
            };
            while (!over() && TClock::now() < until) {
                Changed.wait_until(lock, Closing ? std::min(until, Deadline) : until);
            }
            if (over()) break;
        }
        retry = std::min<TClock::duration>(retry * 2, kLastRetry);
        code = mosquitto_reconnect_async(Mosq);
    }
    std::lock_guard lock(Lock);
    Connected = false;
}

void TTelemetry::TShared::Publish() {
    std::unique_lock lock(Lock);
    for (;;) {
        // A closing that begins during a wait bounds it from then on: the wait without limit
        // ends with the closing's wake-up, the one until the deadline follows.
        while (!ClosingOver() && !WorkToPublish()) {
            if (Closing) {
                Changed.wait_until(lock, Deadline);
            } else {
                Changed.wait(lock);
            }
        }
        if (ClosingOver()) break;
        if (!WorkToPublish()) continue;

        // Taken under the lock, published without it: the library's callbacks take it too. In
        // the order things happened: what a new connection owes the broker first, then the
        // readings, then a status or verdict that came after them.
        std::vector<TRetainedMessage> first, last;
        std::vector<TSent> firstAs, lastAs;
        if (DiscoveryDirty) {
            DiscoveryDirty = false;
            for (TRetainedMessage& config : DiscoveryConfigs(Topics)) {
                first.push_back(std::move(config));
                firstAs.push_back({TKind::Discovery, 0});
            }
        }
        std::vector<TQueued> readings;
        while (!Queue.empty() && InFlight < kMostInFlight) {
            readings.push_back(std::move(Queue.front()));
            Queue.pop_front();
            ++InFlight;
        }
        if (KeptFirst || Queue.empty()) {
            auto& kept = KeptFirst ? first : last;
            auto& keptAs = KeptFirst ? firstAs : lastAs;
            if (StatusDirty) {
                StatusDirty = false;
                kept.push_back({Topics.Status, TesterOnline ? kOnline : kOffline});
                keptAs.push_back({TKind::Status, ++StatusGeneration});
            }
            if (VerdictDirty && VerdictText) {
                VerdictDirty = false;
                kept.push_back({Topics.Verdict, *VerdictText});
                keptAs.push_back({TKind::Verdict, VerdictGeneration});
            }
            KeptFirst = false;
        }
        lock.unlock();

        std::vector<std::pair<int, int>> results;  // mid, code, in the order of `sent`
        std::vector<TSent> sent;
        const auto publishKept = [&](const std::vector<TRetainedMessage>& messages,
                                     const std::vector<TSent>& as) {
            for (size_t i = 0; i < messages.size(); ++i) {
                int mid = 0;
                const int code = mosquitto_publish(Mosq, &mid, messages[i].Topic.c_str(),
                                                   static_cast<int>(messages[i].Payload.size()),
                                                   messages[i].Payload.data(), kQosKept, true);
                results.emplace_back(mid, code);
                sent.push_back(as[i]);
            }
        };
        publishKept(first, firstAs);
        for (const TQueued& queued : readings) {
            const std::optional<std::string> cell =
                queued.Cell ? std::optional<std::string>(*queued.Cell) : std::nullopt;
            const std::string json = ReadingJson(queued.Reading, cell);
            int mid = 0;
            const int code =
                mosquitto_publish(Mosq, &mid, Topics.Reading.c_str(), static_cast<int>(json.size()),
                                  json.data(), kQosReading, false);
            results.emplace_back(mid, code);
            sent.push_back({TKind::Reading, 0});
        }
        publishKept(last, lastAs);

        lock.lock();
        bool lost = false;
        for (size_t i = 0; i < results.size(); ++i) {
            const auto [mid, code] = results[i];
            if (code == MOSQ_ERR_SUCCESS) {
                Sent(mid, sent[i]);
                continue;
            }
            if (sent[i].Kind == TKind::Reading) {
                --InFlight;
                ++Dropped;
            }
            lost = lost || code == MOSQ_ERR_NO_CONN || code == MOSQ_ERR_CONN_LOST;
        }
        if (lost) {
            // Published again once the connection is back (Accepted marks them).
            Connected = false;
            DropQueued();
        }
    }
    // Goodbye: the broker keeps the will to itself.
    const bool connected = Connected;
    Disconnecting = true;
    lock.unlock();
    if (connected) mosquitto_disconnect(Mosq);
    Changed.notify_all();  // the connection's thread ends with the goodbye
}

int TTelemetry::TShared::LoopWaitMs() {
    std::lock_guard lock(Lock);
    if (!Closing) return 1000;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(Deadline + 1s - TClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1000));
}

bool TTelemetry::TShared::WorkToPublish() const {
    const bool readings = !Queue.empty() && InFlight < kMostInFlight;
    // A status or verdict that came after readings waits until they are on their way.
    const bool kept =
        (StatusDirty || (VerdictDirty && VerdictText)) && (KeptFirst || Queue.empty());
    return Connected && (DiscoveryDirty || readings || kept);
}

bool TTelemetry::TShared::ClosingOver() const {
    return Closing && (AllDelivered() || LoginRefused || TClock::now() >= Deadline);
}

bool TTelemetry::TShared::AllDelivered() const {
    return Queue.empty() && InFlight == 0 && !StatusDirty && !StatusAwaited && !VerdictText;
}

void TTelemetry::TShared::Accepted() {
    std::lock_guard lock(Lock);
    Connected = true;
    LoginRefused = false;
    Refusal.clear();
    // What the last connection left unacknowledged is published again.
    Outstanding.clear();
    EarlyAcks.clear();
    StatusDirty = StatusAwaited = true;
    VerdictDirty = VerdictText.has_value();
    DiscoveryDirty = Settings.Discovery;
    KeptFirst = true;
    if (std::exchange(WasAway, false)) {
        std::string text = "telemetry: the broker at " + Where + " is back";
        if (Dropped > DroppedSaid) {
            text += "; " + std::to_string(Dropped - DroppedSaid) +
                    " readings were not published while it was away";
        }
        DroppedSaid = Dropped;
        Say(text);
    }
    SaidCause.clear();
    Changed.notify_all();
}

void TTelemetry::TShared::Refused(int code) {
    std::lock_guard lock(Lock);
    Refusal = mosquitto_connack_string(code);
    // "Connection Refused: not authorised." reads as a cause without its frame.
    if (const size_t colon = Refusal.find(": "); colon != std::string::npos) {
        Refusal = Refusal.substr(colon + 2);
    }
    if (!Refusal.empty() && Refusal.back() == '.') Refusal.pop_back();
}

void TTelemetry::TShared::Acknowledged(int mid) {
    std::lock_guard lock(Lock);
    const auto sent = Outstanding.find(mid);
    if (sent == Outstanding.end()) {
        EarlyAcks.insert(mid);
        return;
    }
    const TSent what = sent->second;
    Outstanding.erase(sent);
    Done(what);
}

void TTelemetry::TShared::LibraryError(const char* text) {
    std::lock_guard lock(Lock);
    LibraryWords = text;
    if (LibraryWords.rfind("Error: ", 0) == 0) LibraryWords.erase(0, 7);
}

void TTelemetry::TShared::Lost(const std::string& cause) {
    std::lock_guard lock(Lock);
    Connected = false;
    WasAway = true;
    DropQueued();
    LoginRefused =
        cause.find("authori") != std::string::npos || cause.find("password") != std::string::npos;
    // An absence is said once, whatever the library calls each attempt that fails on the way (a
    // connection lost, then refused); a refused login is said as such, once per cause.
    const std::string said = LoginRefused ? "refused: " + cause : std::string("away");
    if (said == SaidCause) return;
    SaidCause = said;
    if (LoginRefused) {
        Say("telemetry: the broker at " + Where + " refused the login (" + cause + ")");
    } else {
        Say("telemetry: the broker at " + Where + " is away (" + cause +
            "); readings are not published until it is back");
    }
}

void TTelemetry::TShared::DropQueued() {
    Dropped += Queue.size();
    Queue.clear();
    // Readings the library held for the socket are gone with the connection.
    for (auto it = Outstanding.begin(); it != Outstanding.end();) {
        if (it->second.Kind == TKind::Reading) {
            ++Dropped;
            it = Outstanding.erase(it);
        } else {
            ++it;
        }
    }
    InFlight = 0;
    Changed.notify_all();
}

void TTelemetry::TShared::Sent(int mid, TSent sent) {
    if (EarlyAcks.erase(mid) > 0) return Done(sent);
    Outstanding[mid] = sent;
}

void TTelemetry::TShared::Done(TSent sent) {
    switch (sent.Kind) {
        case TKind::Reading:
            InFlight = std::max(0, InFlight - 1);
            break;
        case TKind::Discovery:
            break;
        case TKind::Status:
            if (sent.Generation == StatusGeneration && !StatusDirty) StatusAwaited = false;
            break;
        case TKind::Verdict:
            if (sent.Generation == VerdictGeneration) VerdictText.reset();
            break;
    }
    Changed.notify_all();
}

void TTelemetry::TShared::Say(const std::string& text) {
    if (!Silent && Notice) Notice(text);
}
