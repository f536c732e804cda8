#include "sim/cloud_emulator.h"

#include "sim/cloud_certs.h"
#include "core/json_util.h"
#include "sim/sim_files.h"

#include <httplib.h>
#include <json-c/json.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace {

const char* const kCameraPath = "/camapi/v3/camera/";
const char* const kTokenPath = "/camapi/v3/token/";
// Enough for the requests that silent endpoints hold.
constexpr size_t kWorkers = 32;
// Padding goes out at 16 MB/s at most, faster than a cellular link: what the
// device hangs up on is not counted as sent from loopback's large buffers.
constexpr size_t kPaddingPiece = 16 * 1024;
constexpr auto kPaddingPause = std::chrono::milliseconds(1);

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string random_hex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    RAND_bytes(raw.data(), static_cast<int>(raw.size()));
    std::string hex;
    char digits[3];
    for (unsigned char byte : raw) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

// Percent-encodes everything but the unreserved characters.
std::string url_encode(const std::string& text) {
    std::string out;
    char escaped[4];
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

// The "size" of the entry of that name in an uploads list, or null.
json_object* offered_size(json_object* offered, const char* name) {
    for (size_t i = 0; offered && i < json_object_array_length(offered); ++i) {
        json_object* entry = json_object_array_get_idx(offered, i);
        const char* offeredName = json_member_raw_string(entry, "name");
        json_object* size = nullptr;
        if (offeredName && strcmp(offeredName, name) == 0 && json_object_object_get_ex(entry, "size", &size))
            return size;
    }
    return nullptr;
}

std::string to_text(json_object* value) {
    return json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
}

// A counting stand-in for the server's task queue: it is handed one task per
// accepted TCP connection.
class CountingQueue : public httplib::TaskQueue {
public:
    explicit CountingQueue(std::atomic<int>& count) : count_(count), pool_(kWorkers) {}
    void enqueue(std::function<void()> fn) override {
        ++count_;
        pool_.enqueue(std::move(fn));
    }
    void shutdown() override { pool_.shutdown(); }

private:
    std::atomic<int>& count_;
    httplib::ThreadPool pool_;
};

// The TLS connections: handshakes done, and each socket while it is open, so
// that stopping can end idle keep-alive connections instead of waiting for
// them to time out.
struct TlsConnections {
    std::atomic<int> handshakes{0};
    std::mutex mutex;
    std::set<int> open;

    void end_all() {
        std::lock_guard<std::mutex> lock(mutex);
        for (int fd : open) shutdown(fd, SHUT_RDWR);
    }
};
struct OpenConnection {
    TlsConnections* all;
    int fd;
};

// OpenSSL's callbacks have no user pointer: the record hangs on the SSL_CTX,
// each connection's on its SSL.
int g_contextIndex = -1;
int g_connectionIndex = -1;

// Runs while OpenSSL frees the SSL, before the server closes the socket.
void forget_connection(void*, void* data, CRYPTO_EX_DATA*, int, long, void*) {
    auto* connection = static_cast<OpenConnection*>(data);
    if (connection == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(connection->all->mutex);
        connection->all->open.erase(connection->fd);
    }
    delete connection;
}

void follow_connection(const SSL* ssl, int where, int) {
    auto* all = static_cast<TlsConnections*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), g_contextIndex));
    if (all == nullptr) return;
    if ((where & SSL_CB_HANDSHAKE_START) && SSL_get_ex_data(ssl, g_connectionIndex) == nullptr) {
        auto* connection = new OpenConnection{all, SSL_get_fd(ssl)};
        {
            std::lock_guard<std::mutex> lock(all->mutex);
            all->open.insert(connection->fd);
        }
        SSL_set_ex_data(const_cast<SSL*>(ssl), g_connectionIndex, connection);
    }
    if (where & SSL_CB_HANDSHAKE_DONE) ++all->handshakes;
}

}  // namespace

std::string CloudRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    return {};
}

struct CloudEmulator::State {
    CloudScenario scenario;
    ServerIdentity identity;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;
    std::atomic<bool> listenEnded{false};
    int port = 0;
    std::atomic<int> connections{0};
    TlsConnections tls;

    mutable std::mutex mutex;  // guards everything below
    std::condition_variable stopping;  // silent endpoints hold their requests until then
    bool stopped = false;
    Traffic traffic;
    std::string relayHost;     // empty: none
    std::vector<CloudRequest> received;
    std::vector<StoredPicture> stored;
    std::set<std::string> validTokens;
    bool configSent = false;
    JsonPtr pendingRequests;
    struct Slot {
        std::string name, key;
    };
    std::vector<Slot> slots;  // endpoints handed out, by index

    void serve();
    void record(const httplib::Request& req, int status);
    void answer(const httplib::Request& req, httplib::Response& res, int status, const std::string& body);
    void drop(const httplib::Request& req, httplib::Response& res);
    bool hold(const char* endpoint, const httplib::Request& req);
    void send_padded(const httplib::Request& req, httplib::Response& res, const std::string& answer);
    std::string issue_token();
    void token(const httplib::Request& req, httplib::Response& res);
    void camera(const httplib::Request& req, httplib::Response& res);
    void storage(const httplib::Request& req, httplib::Response& res);
    std::string camera_answer(json_object* document);
    void uploads_answer(json_object* offered, json_object* answer);
    json_object* instructions_for(json_object* offered);
    void address(json_object* instruction, const char* name, const char* endpoint, const char* contentType);
    void address_requests();
    const Slot* slot_of(const httplib::Request& req) const;
    void download(const httplib::Request& req, httplib::Response& res);
    void take_acknowledgements(json_object* document);
};

void CloudEmulator::State::record(const httplib::Request& req, int status) {
    CloudRequest request;
    request.method = req.method;
    request.path = req.path;
    for (const auto& [key, value] : req.headers) request.headers.emplace_back(key, value);
    request.body = req.body;
    request.status = status;
    request.when = std::chrono::steady_clock::now();
    traffic.received += req.method.size() + req.target.size() + req.body.size();
    for (const auto& [key, value] : req.headers) traffic.received += key.size() + value.size() + 4;
    received.push_back(std::move(request));
}

void CloudEmulator::State::answer(const httplib::Request& req, httplib::Response& res, int status,
                                  const std::string& body) {
    record(req, status);
    traffic.sent += body.size();
    res.status = status;
    res.set_content(body, "application/json");
}

// A silent endpoint keeps the request unanswered until the service stops.
bool CloudEmulator::State::hold(const char* endpoint, const httplib::Request& req) {
    std::unique_lock<std::mutex> lock(mutex);
    if (std::find(scenario.silent.begin(), scenario.silent.end(), endpoint) == scenario.silent.end()) return false;
    record(req, 0);
    stopping.wait(lock, [this] { return stopped; });
    return true;
}

// The answer with `padding` bytes of empty objects at the end of its
// "uploads" (its last member), in pieces and without a length.
void CloudEmulator::State::send_padded(const httplib::Request& req, httplib::Response& res, const std::string& answer) {
    record(req, 200);
    const size_t close = answer.rfind(']');
    const std::string head = answer.substr(0, close) + (answer[close - 1] == '[' ? "" : ",");
    const std::string tail = "{}" + answer.substr(close);
    const std::string piece = [] {
        std::string objects;
        while (objects.size() + 3 <= kPaddingPiece) objects += "{},";
        return objects;
    }();
    const size_t pieces = scenario.padding / piece.size();
    res.set_chunked_content_provider("application/json", [this, head, tail, piece, pieces](size_t, httplib::DataSink& sink) {
        bool written = sink.write(head.data(), head.size());
        for (size_t i = 0; written && i < pieces; ++i) {
            std::this_thread::sleep_for(kPaddingPause);
            written = sink.write(piece.data(), piece.size());
            std::lock_guard<std::mutex> lock(mutex);
            traffic.sent += written ? piece.size() : 0;
        }
        if (written && sink.write(tail.data(), tail.size())) sink.done();
        return written;
    });
}

// Announces a body, sends half of it and closes the connection.
void CloudEmulator::State::drop(const httplib::Request& req, httplib::Response& res) {
    record(req, 0);
    const std::string body = "{\"uploads\": [{\"name\": \"PICT0001.JPG\", \"host\": \"https://127.0.0.1\"}]}";
    res.set_content_provider(body.size(), "application/json",
                             [body](size_t, size_t, httplib::DataSink& sink) {
                                 sink.write(body.data(), body.size() / 2);
                                 return false;
                             });
}

std::string CloudEmulator::State::issue_token() {
    std::string issued = "tok-" + random_hex(16);
    if (scenario.tokenLength > 0) issued.resize(static_cast<size_t>(scenario.tokenLength), 'x');
    validTokens.insert(issued);
    return issued;
}

void CloudEmulator::State::token(const httplib::Request& req, httplib::Response& res) {
    if (hold("token", req)) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (!scenario.tokenAnswer.empty()) return answer(req, res, 200, scenario.tokenAnswer);
    answer(req, res, 200, "{\"token\": \"" + issue_token() + "\"}");
}

void CloudEmulator::State::camera(const httplib::Request& req, httplib::Response& res) {
    if (hold("camera", req)) return;
    std::lock_guard<std::mutex> lock(mutex);
    std::string authorization = req.get_header_value("Authorization");
    std::string bearer = starts_with(authorization, "Bearer ") ? authorization.substr(7) : std::string();
    if (scenario.refuseToken > 0) {
        --scenario.refuseToken;
        validTokens.erase(bearer);
        return answer(req, res, scenario.refuseStatus, "{\"error\": \"token revoked\"}");
    }
    if (scenario.serverErrors > 0) {
        --scenario.serverErrors;
        if (!scenario.retryAfter.empty()) res.set_header("Retry-After", scenario.retryAfter);
        return answer(req, res, scenario.serverErrorStatus, "{\"error\": \"service unavailable\"}");
    }
    if (scenario.dropCamera > 0) {
        --scenario.dropCamera;
        return drop(req, res);
    }
    if (validTokens.count(bearer) == 0)
        return answer(req, res, 401, "{\"error\": \"unknown token\"}");
    if (req.get_header_value("Content-Type") != "application/json")
        return answer(req, res, 415, "{\"error\": \"not sent as JSON\"}");
    if (scenario.notJson > 0) {
        --scenario.notJson;
        record(req, 200);
        res.set_content("<html><body>Gateway says hello</body></html>", "text/html");
        return;
    }
    JsonPtr document = json_parse(req.body.c_str());
    if (!document || !json_object_is_type(document.get(), json_type_object))
        return answer(req, res, 400, "{\"error\": \"not a JSON object\"}");
    const std::string body = camera_answer(document.get());
    if (scenario.padding > 0 && body != "{}") return send_padded(req, res, body);
    answer(req, res, 200, body);
}

// The answer to one camera record: pending requests, the configuration once,
// and an instruction for each picture wanted.
std::string CloudEmulator::State::camera_answer(json_object* document) {
    JsonPtr answer(json_object_new_object());
    json_object* requests = json_member_object(document, "requests");
    if (requests && json_member_object(requests, "pictures")) return "{}";  // a picture results document
    if (!scenario.repeatRequests) take_acknowledgements(document);
    if (pendingRequests && json_object_object_length(pendingRequests.get()) > 0) {
        json_object_object_add(answer.get(), "requests", json_object_get(pendingRequests.get()));
        // Pictures carry no acknowledgement: they are asked for once.
        JsonPtr copy = json_parse(to_text(pendingRequests.get()).c_str());
        if (!scenario.repeatRequests) json_object_object_del(copy.get(), "pictures");
        pendingRequests = std::move(copy);
    }
    if (!configSent && !scenario.config.empty()) {
        if (JsonPtr config = json_parse(scenario.config.c_str()))
            json_object_object_add(answer.get(), "config", config.release());
        configSent = true;
    }
    json_object* offered = json_member_array(document, "uploads");
    if (offered || scenario.padding > 0) uploads_answer(offered, answer.get());
    return to_text(answer.get());
}

void CloudEmulator::State::take_acknowledgements(json_object* document) {
    json_object* acknowledged = json_member_object(document, "requests");
    if (!acknowledged || !pendingRequests) return;
    json_object_object_foreach(acknowledged, kind, value) {
        json_object* execute = nullptr;
        if (json_object_object_get_ex(value, "execute", &execute) && !json_object_get_boolean(execute))
            json_object_object_del(pendingRequests.get(), kind);
    }
}

// Adds "host", "path", "verb" and "headers" for a new endpoint of ours:
// "storage" takes an upload, "files" serves a download. A key header ties
// the endpoint to this instruction.
void CloudEmulator::State::address(json_object* instruction, const char* name, const char* endpoint,
                                   const char* contentType) {
    Slot slot{name, random_hex(12)};
    std::string path = std::string("/") + endpoint + "/" + std::to_string(slots.size()) + "/" + url_encode(name);
    slots.push_back(slot);
    json_object* headers = json_object_new_array();
    std::vector<std::pair<std::string, std::string>> lines{{"X-Upload-Key", slot.key}};
    if (contentType) lines.emplace_back("Content-Type", contentType);
    if (contentType) lines.insert(lines.end(), scenario.uploadHeaders.begin(), scenario.uploadHeaders.end());
    for (const auto& [header, value] : lines) {
        json_object* line = json_object_new_object();
        json_object_object_add(line, "name", json_object_new_string(header.c_str()));
        json_object_object_add(line, "value", json_object_new_string(value.c_str()));
        json_object_array_add(headers, line);
    }
    const std::string host = relayHost.empty() ? "127.0.0.1:" + std::to_string(port) : relayHost;
    json_object_object_add(instruction, "host", json_object_new_string(("https://" + host).c_str()));
    json_object_object_add(instruction, "path", json_object_new_string(path.c_str()));
    json_object_object_add(instruction, "verb", json_object_new_string(contentType ? "PUT" : "GET"));
    json_object_object_add(instruction, "headers", headers);
}

void CloudEmulator::State::uploads_answer(json_object* offered, json_object* answer) {
    json_object_object_add(answer, "uploads", instructions_for(offered));
}

// The scenario's own instructions, or one for each picture wanted.
json_object* CloudEmulator::State::instructions_for(json_object* offered) {
    JsonPtr own = json_parse(scenario.uploads.c_str());
    if (own && json_object_is_type(own.get(), json_type_array)) {
        for (size_t i = 0; i < json_object_array_length(own.get()); ++i) {
            json_object* instruction = json_object_array_get_idx(own.get(), i);
            const char* name = json_member_raw_string(instruction, "name");
            if (name == nullptr || json_object_object_get_ex(instruction, "host", nullptr)) continue;
            address(instruction, name, "storage", "image/jpeg");
            json_object* size = offered_size(offered, name);
            if (size && !json_object_object_get_ex(instruction, "size", nullptr))
                json_object_object_add(instruction, "size", json_object_get(size));
        }
        return own.release();
    }
    json_object* instructions = json_object_new_array();
    size_t wanted = offered ? json_object_array_length(offered) : 0;
    if (scenario.picturesWanted >= 0 && static_cast<size_t>(scenario.picturesWanted) < wanted)
        wanted = static_cast<size_t>(scenario.picturesWanted);
    for (size_t i = 0; i < wanted; ++i) {
        json_object* entry = json_object_array_get_idx(offered, i);
        const char* name = json_member_raw_string(entry, "name");
        int64_t size = 0;
        if (name == nullptr || !json_member_int(entry, "size", size)) continue;
        json_object* instruction = json_object_new_object();
        json_object_object_add(instruction, "name", json_object_new_string(name));
        address(instruction, name, "storage", "image/jpeg");
        json_object_object_add(instruction, "size", json_object_new_int64(size));
        JsonPtr changes = json_parse(scenario.instruction.c_str());
        if (changes && json_object_is_type(changes.get(), json_type_object)) {
            json_object_object_foreach(changes.get(), key, value)
                json_object_object_add(instruction, key, json_object_get(value));
        }
        json_object_array_add(instructions, instruction);
    }
    return instructions;
}

// Instructions of the scenario's requests that name no "host" get endpoints
// of ours: downloads for "update" and "updateModem", uploads for the others.
void CloudEmulator::State::address_requests() {
    if (!pendingRequests) return;
    json_object_object_foreach(pendingRequests.get(), kind, request) {
        json_object* content = nullptr;
        if (!json_object_object_get_ex(request, "content", &content) || !json_object_is_type(content, json_type_array))
            continue;
        const bool download = strcmp(kind, "update") == 0 || strcmp(kind, "updateModem") == 0;
        for (size_t i = 0; i < json_object_array_length(content); ++i) {
            json_object* instruction = json_object_array_get_idx(content, i);
            const char* name = json_member_raw_string(instruction, "name");
            if (name && !json_object_object_get_ex(instruction, "host", nullptr))
                address(instruction, name, download ? "files" : "storage",
                        download ? nullptr : strcmp(kind, "log") == 0 ? "text/plain" : "image/jpeg");
        }
    }
}

// The slot a request to /storage/<n>/... or /files/<n>/... names, when its key matches.
const CloudEmulator::State::Slot* CloudEmulator::State::slot_of(const httplib::Request& req) const {
    size_t index = std::strtoul(req.matches[1].str().c_str(), nullptr, 10);
    if (index >= slots.size() || req.get_header_value("X-Upload-Key") != slots[index].key) return nullptr;
    return &slots[index];
}

void CloudEmulator::State::download(const httplib::Request& req, httplib::Response& res) {
    if (hold("files", req)) return;
    std::lock_guard<std::mutex> lock(mutex);
    const Slot* slot = slot_of(req);
    if (slot == nullptr) return answer(req, res, 403, "{\"error\": \"bad key\"}");
    auto file = scenario.files.find(slot->name);
    if (file == scenario.files.end()) return answer(req, res, 404, "{\"error\": \"no such file\"}");
    record(req, 200);
    traffic.sent += file->second.size();
    res.set_content(file->second, "application/octet-stream");
}

void CloudEmulator::State::storage(const httplib::Request& req, httplib::Response& res) {
    if (hold("storage", req)) return;
    std::lock_guard<std::mutex> lock(mutex);
    const Slot* slot = slot_of(req);
    if (slot == nullptr) return answer(req, res, 403, "{\"error\": \"bad key\"}");
    const std::string name = slot->name;
    auto fault = scenario.uploadStatus.find(name);
    if (fault != scenario.uploadStatus.end() && fault->second == 0) return drop(req, res);
    if (fault != scenario.uploadStatus.end() && fault->second / 100 != 2)
        return answer(req, res, fault->second, "{\"error\": \"refused\"}");
    StoredPicture picture{name, req.body, {}};
    for (const auto& [key, value] : req.headers) picture.headers.emplace_back(key, value);
    stored.push_back(std::move(picture));
    answer(req, res, 200, "");
}

void CloudEmulator::State::serve() {
    server->listen_after_bind();
    listenEnded = true;
}

CloudEmulator::CloudEmulator(CloudScenario scenario) : state_(std::make_unique<State>()) {
    state_->scenario = std::move(scenario);
    if (!state_->scenario.storedToken.empty()) state_->validTokens.insert(state_->scenario.storedToken);
    if (!state_->scenario.requests.empty()) state_->pendingRequests = json_parse(state_->scenario.requests.c_str());
}

CloudEmulator::~CloudEmulator() { stop(); }

bool CloudEmulator::start() {
    State& s = *state_;
    if (s.server) return true;
    if (!cloud_make_identity(s.scenario.foreignCa, s.identity)) return false;
    static std::once_flag once;
    std::call_once(once, [] {
        g_contextIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        g_connectionIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, forget_connection);
    });

    s.server = std::make_unique<httplib::SSLServer>([&s](SSL_CTX& context) {
        SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
        SSL_CTX_set_ex_data(&context, g_contextIndex, &s.tls);
        SSL_CTX_set_info_callback(&context, follow_connection);
        return SSL_CTX_use_certificate(&context, s.identity.cert.get()) == 1 &&
               SSL_CTX_use_PrivateKey(&context, s.identity.key.get()) == 1;
    });
    if (!s.server->is_valid()) return false;
    s.server->new_task_queue = [&s] { return new CountingQueue(s.connections); };
    // One sync is one connection; the daemon keeps it open between transfers.
    s.server->set_keep_alive_max_count(100000);
    s.server->set_keep_alive_timeout(30);
    s.server->Get(R"(/camapi/v3/token/[^/]+)", [&s](const httplib::Request& q, httplib::Response& r) { s.token(q, r); });
    s.server->Put(R"(/camapi/v3/camera/[^/]+)", [&s](const httplib::Request& q, httplib::Response& r) { s.camera(q, r); });
    s.server->Put(R"(/storage/(\d+)/.+)", [&s](const httplib::Request& q, httplib::Response& r) { s.storage(q, r); });
    s.server->Get(R"(/files/(\d+)/.+)", [&s](const httplib::Request& q, httplib::Response& r) { s.download(q, r); });
    auto unknown = [&s](const httplib::Request& q, httplib::Response& r) {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.answer(q, r, 404, "{\"error\": \"no such endpoint\"}");
    };
    for (auto method : {&httplib::Server::Get, &httplib::Server::Delete, &httplib::Server::Options})
        (s.server.get()->*method)(".*", unknown);
    s.server->Put(".*", unknown);
    s.server->Post(".*", unknown);
    s.port = s.server->bind_to_any_port("127.0.0.1");
    if (s.port <= 0) return false;
    s.address_requests();
    s.listener = std::thread(&State::serve, &s);
    // The server's stop() ends a listen only once it has begun: a service
    // stopped at once would otherwise be waited for forever.
    while (!s.server->is_running() && !s.listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void CloudEmulator::stop() {
    State& s = *state_;
    if (!s.server) return;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopped = true;
    }
    s.stopping.notify_all();
    s.server->stop();
    s.tls.end_all();
    if (s.listener.joinable()) s.listener.join();
}

int CloudEmulator::port() const { return state_->port; }

std::string CloudEmulator::host() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->relayHost.empty() ? "127.0.0.1:" + std::to_string(state_->port) : state_->relayHost;
}

void CloudEmulator::reach_through(const std::string& relayHost) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->relayHost = relayHost;
}

bool CloudEmulator::write_ca(const std::string& path) const {
    if (state_->identity.trustedCaPem.empty()) return false;
    sim_write_file(path, state_->identity.trustedCaPem);
    return sim_read_file(path) == state_->identity.trustedCaPem;
}

std::vector<CloudRequest> CloudEmulator::requests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->received;
}

namespace {
std::vector<CloudRequest> those_under(const std::vector<CloudRequest>& all, const char* prefix) {
    std::vector<CloudRequest> some;
    for (const auto& request : all)
        if (starts_with(request.path, prefix)) some.push_back(request);
    return some;
}
}  // namespace

std::vector<CloudRequest> CloudEmulator::token_requests() const { return those_under(requests(), kTokenPath); }

std::vector<CloudRequest> CloudEmulator::camera_documents() const { return those_under(requests(), kCameraPath); }

std::vector<StoredPicture> CloudEmulator::pictures() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->stored;
}

int CloudEmulator::connections() const { return state_->connections; }

int CloudEmulator::handshakes() const { return state_->tls.handshakes; }

CloudEmulator::Traffic CloudEmulator::traffic() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->traffic;
}

namespace {

int int_knob(json_object* cloud, const char* key, int fallback) {
    int64_t value = 0;
    return json_member_int(cloud, key, value) ? static_cast<int>(value) : fallback;
}

std::string text_knob(json_object* cloud, const char* key) {
    const char* text = json_member_raw_string(cloud, key);
    return text ? text : "";
}

bool flag_knob(json_object* cloud, const char* key) {
    json_object* flag = nullptr;
    return json_object_object_get_ex(cloud, key, &flag) && json_object_get_boolean(flag);
}

std::string object_knob(json_object* cloud, const char* key) {
    json_object* object = json_member_object(cloud, key);
    return object ? to_text(object) : "";
}

}  // namespace

bool cloud_scenario_parse(const std::string& json, CloudScenario& s) {
    JsonPtr cloud = json_parse(json.c_str());
    if (!cloud || !json_object_is_type(cloud.get(), json_type_object)) return false;
    json_object* c = cloud.get();
    s.refuseToken = int_knob(c, "refuse_token", s.refuseToken);
    s.refuseStatus = int_knob(c, "refuse_status", s.refuseStatus);
    s.serverErrors = int_knob(c, "server_errors", s.serverErrors);
    s.serverErrorStatus = int_knob(c, "server_error_status", s.serverErrorStatus);
    s.notJson = int_knob(c, "not_json", s.notJson);
    s.dropCamera = int_knob(c, "drop_camera", s.dropCamera);
    s.tokenAnswer = text_knob(c, "token_answer");
    s.storedToken = text_knob(c, "stored_token");
    s.config = object_knob(c, "config");
    s.requests = object_knob(c, "requests");
    s.picturesWanted = int_knob(c, "pictures_wanted", s.picturesWanted);
    s.instruction = object_knob(c, "instruction");
    if (json_object* statuses = json_member_object(c, "upload_status")) {
        json_object_object_foreach(statuses, name, status) s.uploadStatus[name] = json_object_get_int(status);
    }
    if (json_object* files = json_member_object(c, "files")) {
        json_object_object_foreach(files, name, path) s.files[name] = sim_read_file(json_object_get_string(path));
    }
    s.foreignCa = flag_knob(c, "foreign_ca");
    s.tokenLength = int_knob(c, "token_length", s.tokenLength);
    if (json_object* headers = json_member_object(c, "upload_headers")) {
        json_object_object_foreach(headers, name, value) s.uploadHeaders[name] = json_object_get_string(value);
    }
    if (json_object* uploads = json_member_array(c, "uploads")) s.uploads = to_text(uploads);
    s.padding = static_cast<size_t>(std::max(0, int_knob(c, "padding", 0)));
    if (json_object* silent = json_member_array(c, "silent")) {
        for (size_t i = 0; i < json_object_array_length(silent); ++i)
            s.silent.emplace_back(json_object_get_string(json_object_array_get_idx(silent, i)));
    }
    s.retryAfter = text_knob(c, "retry_after");
    s.repeatRequests = flag_knob(c, "repeat_requests");
    return true;
}

bool cloud_emulator_attach(const CloudEmulator& cloud, const CloudScenario& scenario, const std::string& root) {
    const std::string configPath = root + "/etc/qz_daemon_conf.json";
    JsonPtr config = json_parse(sim_read_file(configPath).c_str());
    if (!config || !json_object_is_type(config.get(), json_type_object)) config.reset(json_object_new_object());
    json_object_object_add(config.get(), "host", json_object_new_string(cloud.host().c_str()));
    if (!scenario.storedToken.empty())
        json_object_object_add(config.get(), "s3token", json_object_new_string(scenario.storedToken.c_str()));
    sim_write_file(configPath, json_object_to_json_string_ext(config.get(), JSON_C_TO_STRING_SPACED));
    return cloud.write_ca(root + "/usrdata/cacert.pem");
}

std::string cloud_emulator_report(const CloudEmulator& cloud) {
    std::ostringstream out;
    out << "== Cloud (" << cloud.host() << "): " << cloud.connections() << " connections, " << cloud.handshakes()
        << " TLS handshakes\n";
    for (const auto& request : cloud.requests()) {
        out << "  " << request.method << " " << request.path << " -> "
            << (request.status ? std::to_string(request.status) : std::string("dropped"));
        if (starts_with(request.path, kCameraPath))
            out << "  [" << request.header("Authorization") << "]\n    " << request.body;
        else if (!starts_with(request.path, kTokenPath))
            out << "  (" << request.body.size() << " bytes)";
        out << "\n";
    }
    auto pictures = cloud.pictures();
    out << "== Files stored in the cloud (" << pictures.size() << ")\n";
    for (const auto& picture : pictures) out << "  " << picture.name << "  " << picture.bytes.size() << " bytes\n";
    return out.str();
}
