#include "net/ListenerService.h"

#include "net/DiagnosticLog.h"
#include "net/ServiceWindow.h"

#include <utility>

namespace quill {

namespace {
// accept failures in a row (a client that reset its connection before it was
// accepted, say) that the service rides out; more mean the listener is broken.
constexpr int kMaxAcceptFailures = 64;
} // namespace

ListenerService::ListenerService(std::string name, const ServiceSettings& settings, PortGetter port,
                                 ServiceWindow& window, SessionFactory factory)
    : ListenerService(std::move(name), settings, port, window, std::move(factory), Options()) {}

ListenerService::ListenerService(std::string name, const ServiceSettings& settings, PortGetter port,
                                 ServiceWindow& window, SessionFactory factory, Options options)
    : name_(std::move(name)), settings_(settings), port_(port), window_(window),
      factory_(std::move(factory)), options_(std::move(options)) {}

ListenerService::~ListenerService() {
    stop();
}

void ListenerService::start() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (state_ == State::Starting || state_ == State::Listening)
            return;
    }
    join(); // a thread that has ended by itself
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = false;
        state_ = State::Starting;
        boundPort_ = 0;
    }
    try {
        ServiceThread::start();
    } catch (...) {
        setState(State::Ended);
        throw;
    }
}

void ListenerService::stop() noexcept {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
        if (listener_ != nullptr)
            listener_->close();
        if (session_ != nullptr)
            session_->abort();
    }
    join();
    std::lock_guard<std::mutex> hold(mutex_);
    state_ = State::NotStarted;
    boundPort_ = 0;
    stateChanged_.notify_all();
}

ListenerService::State ListenerService::state() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return state_;
}

ListenerService::State ListenerService::waitUntilReady() const {
    std::unique_lock<std::mutex> hold(mutex_);
    stateChanged_.wait(hold, [this] { return state_ != State::Starting; });
    return state_;
}

int ListenerService::boundPort() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return boundPort_;
}

std::size_t ListenerService::conversations() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return conversations_;
}

void ListenerService::setState(State s, int port) {
    std::lock_guard<std::mutex> hold(mutex_);
    state_ = s;
    boundPort_ = port;
    stateChanged_.notify_all();
}

void ListenerService::run() {
    DiagnosticLog::Scope scope(name_.c_str(), 0);
    try {
        CBlockSocket listener(0, 0);
        listener.setTimeoutMs(options_.receiveTimeoutMs, options_.sendTimeoutMs);
        const int port = (settings_.*port_)();
        listener.listenAt(options_.address, port);
        const int bound = listener.localPort();

        // Published for stop(); withdrawn before the socket goes.
        struct Publication {
            ListenerService& self;
            ~Publication() {
                std::lock_guard<std::mutex> hold(self.mutex_);
                self.listener_ = nullptr;
            }
        } publication{*this};
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (stopping_) {
                state_ = State::Ended;
                stateChanged_.notify_all();
                return;
            }
            listener_ = &listener;
            state_ = State::Listening;
            boundPort_ = bound;
            stateChanged_.notify_all();
        }
        logEvent("listening on " + options_.address + ":" + std::to_string(bound));

        int failures = 0;
        for (;;) {
            try {
                CBlockSocket connection = listener.accept();
                failures = 0;
                serve(connection);
                // connection goes here: with the session's copy gone, this
                // closes it.
            } catch (const CBlockSocket::Canceled&) {
                logEvent("service stopped");
                break;
            } catch (const CBlockSocket::Error& e) {
                std::lock_guard<std::mutex> hold(mutex_);
                if (stopping_) {
                    logEvent("service stopped");
                    break;
                }
                logEvent("accept failed: " + describeException(e));
                if (++failures >= kMaxAcceptFailures) {
                    logEvent("service ends: the listener keeps failing");
                    break;
                }
            }
        }
    } catch (...) {
        // No socket, or the port cannot be bound: the service ends, and only
        // the log says why.
        logEvent("service cannot listen on " + options_.address + " port " +
                 std::to_string((settings_.*port_)()) + ": " + describeCurrentException());
    }
    setState(State::Ended);
}

void ListenerService::serve(CBlockSocket& connection) {
    unsigned long number;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        number = static_cast<unsigned long>(conversations_) + 1;
    }
    DiagnosticLog::Scope scope(name_.c_str(), number);
    logEvent("conversation starts");
    std::unique_ptr<Session> session;
    try {
        session = factory_(connection);
    } catch (...) {
        logEvent("conversation dropped: " + describeCurrentException());
        return; // the connection is dropped
    }
    if (!session)
        return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_)
            return;
        session_ = session.get();
    }
    try {
        window_.setCancelTarget(session.get());
        window_.setPopup(settings_.popup());
        session->run();
        logEvent("conversation ends");
    } catch (...) {
        // Whatever ended the conversation, the service goes on.
        logEvent("conversation ends: " + describeCurrentException());
    }
    try {
        window_.hide();
    } catch (...) {
    }
    try {
        // Waits for a Cancel in progress: the session is still alive here.
        window_.setCancelTarget(nullptr);
    } catch (...) {
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        session_ = nullptr; // stop() no longer reaches it
        ++conversations_;
    }
    session.reset();
}

} // namespace quill
