#include "log_report.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

namespace {

constexpr size_t kStampLength = 19;         // "2024-05-07 09:03:00"
constexpr size_t kHeaderLength = 20;        // the stamp and its ";"
constexpr size_t kLongestTag = 32;
constexpr size_t kLongestLine = 64 * 1024;  // longer lines are not the daemon's: read in slices
constexpr int64_t kClockJump = 30 * 60;     // a longer gap between two entries is the clock being set
constexpr int64_t kClockKnownFrom = 1262304000;  // 2010-01-01: earlier stamps are a clock never set
constexpr size_t kLinesNamed = 5;
constexpr size_t kTagsNamed = 8;
constexpr size_t kErrorKinds = 1000;
constexpr size_t kErrorKeyLength = 80;
constexpr size_t kFirstErrorLength = 160;
constexpr size_t kTopErrors = 5;

// The tags the daemon writes.
constexpr std::string_view kTags[] = {
    "main", "Modem", "uart", "getdatetime", "setdatetime", "firstsync", "status", "config",
    "sync", "cell", "cellular", "Datetime", "signal", "SIM", "sim", "AT", "Data", "token",
    "PutCamera", "upload", "uploads", "log", "request", "camapi", "hdresult", "hdod", "update",
    "updateModem", "image", "process", "hd", "gpio", "adc"};

enum class Meaning {
    kPowerOn, kPowerdown, kReboot, kDataUp, kDataFailed, kIccid, kSlotSwitch, kStatusRecord,
    kNetwork, kRadio, kSignal, kBattery, kExternal, kProcessed, kOffered, kUploadFailed,
    kRequest, kSimWait, kUpdate, kModemPackage, kUpdateRefused, kClockSet, kNone
};

// The daemon's own texts the figures come from: tag, start of the message
// (or the whole message), meaning.
struct Rule {
    std::string_view tag, text;
    bool whole;
    Meaning meaning;
};
constexpr Rule kRules[] = {
    {"main", "Modem power-on", true, Meaning::kPowerOn},
    {"main", "Modem powerdown", true, Meaning::kPowerdown},
    {"main", "Reboot after update", true, Meaning::kReboot},
    {"Data", "Data activated", true, Meaning::kDataUp},
    {"cell", "Open data context failed", true, Meaning::kDataFailed},
    {"cell", "Can't get stable signal", true, Meaning::kDataFailed},
    {"cellular", "Modem initialization error", false, Meaning::kDataFailed},
    {"cellular", "ICCID (slot #", false, Meaning::kIccid},
    {"sim", "Switch sim card slot: ", false, Meaning::kSlotSwitch},
    {"status", "{", false, Meaning::kStatusRecord},
    {"cellular", "MCC: ", false, Meaning::kNetwork},
    {"cellular", "Signal type: ", false, Meaning::kRadio},
    {"cellular", "Signal strength: ", false, Meaning::kSignal},
    {"status", "AA: ", false, Meaning::kBattery},
    {"status", "Ext: ", false, Meaning::kExternal},
    {"process", "Picture processed: ", false, Meaning::kProcessed},
    {"upload", "Picture to upload: ", false, Meaning::kOffered},
    {"sync", "File transfer failed", false, Meaning::kUploadFailed},
    {"sync", "Refused instruction for ", false, Meaning::kUploadFailed},
    {"sync", "Refused file name: ", false, Meaning::kUploadFailed},
    {"sync", "Failed to open file: /media/sdcard/transmit/", false, Meaning::kUploadFailed},
    {"request", "", false, Meaning::kRequest},
    {"log", "Log request", true, Meaning::kRequest},
    {"hd", "HD picture ready: ", false, Meaning::kRequest},
    {"hd", "HD picture not available: ", false, Meaning::kRequest},
    {"camapi", "Wait for sim update for ", false, Meaning::kSimWait},
    {"update", "Update modem", true, Meaning::kUpdate},
    {"update", "Update mcu", true, Meaning::kUpdate},
    {"update", "MCU firmware refused: ", false, Meaning::kUpdateRefused},
    {"updateModem", "Update modem", true, Meaning::kModemPackage},
    {"setdatetime", "Date/time set from MCU", true, Meaning::kClockSet},
};

Meaning meaning_of(std::string_view tag, std::string_view message) {
    for (const Rule& rule : kRules) {
        if (rule.tag != tag) continue;
        if (rule.whole ? message == rule.text : message.substr(0, rule.text.size()) == rule.text)
            return rule.meaning;
    }
    return Meaning::kNone;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

// "YYYY-MM-DD HH:MM:SS;" at `p`, which has at least 20 bytes.
bool stamp_at(const char* p) {
    static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd;";
    for (size_t i = 0; i < kHeaderLength; ++i)
        if (kShape[i] == 'd' ? !digit(p[i]) : p[i] != kShape[i]) return false;
    return true;
}

int64_t digits_value(const char* p, size_t count) {
    int64_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 10 + (p[i] - '0');
    return value;
}

// Seconds since 1970 of the stamp's fields as written (no time zone: only
// differences and the order matter).
int64_t stamp_seconds(const char* p) {
    int64_t year = digits_value(p, 4), month = digits_value(p + 5, 2), day = digits_value(p + 8, 2);
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + digits_value(p + 11, 2) * 3600 + digits_value(p + 14, 2) * 60 +
           digits_value(p + 17, 2);
}

// The first entry stamp at or after `from`; `length` when there is none.
size_t next_stamp(const char* text, size_t length, size_t from) {
    size_t at = from + kStampLength;
    while (at < length) {
        const void* found = std::memchr(text + at, ';', length - at);
        if (found == nullptr) break;
        const size_t semicolon = static_cast<size_t>(static_cast<const char*>(found) - text);
        const size_t start = semicolon - kStampLength;
        if (start + kHeaderLength <= length && stamp_at(text + start)) return start;
        at = semicolon + 1;
    }
    return length;
}

bool printable(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7f) return false;
    }
    return true;
}

// Control characters become spaces; at most `limit` bytes.
std::string shown(std::string_view text, size_t limit) {
    std::string out(text.substr(0, limit));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

// An error's text with its numbers as "N", so one fault counts as one kind.
std::string error_kind(std::string_view tag, std::string_view message) {
    std::string key = shown(tag, kLongestTag) + ": ";
    for (size_t i = 0; i < message.size() && key.size() < kErrorKeyLength; ++i) {
        if (!digit(message[i])) {
            key += shown(message.substr(i, 1), 1);
            continue;
        }
        key += 'N';
        while (i + 1 < message.size() && digit(message[i + 1])) ++i;
    }
    return key;
}

// The integer after `prefix` (optional "-"), 0 when there is none.
int64_t integer_after(std::string_view message, size_t prefix) {
    size_t i = prefix;
    const bool negative = i < message.size() && message[i] == '-';
    if (negative) ++i;
    int64_t value = 0;
    for (; i < message.size() && digit(message[i]) && value < 1000000000; ++i) value = value * 10 + (message[i] - '0');
    return negative ? -value : value;
}

// "6.12" after `prefix`; -1 when it does not start with a digit.
double decimal_after(std::string_view message, size_t prefix) {
    if (prefix >= message.size() || !digit(message[prefix])) return -1;
    double value = static_cast<double>(integer_after(message, prefix));
    size_t i = prefix;
    while (i < message.size() && digit(message[i])) ++i;
    if (i < message.size() && message[i] == '.') {
        double scale = 0.1;
        for (++i; i < message.size() && digit(message[i]); ++i, scale /= 10) value += (message[i] - '0') * scale;
    }
    return value;
}

std::string_view after(std::string_view text, std::string_view marker) {
    const size_t at = text.find(marker);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + marker.size());
}

std::string_view until(std::string_view text, char end) { return text.substr(0, text.find(end)); }

enum Damage : unsigned { kCut = 1, kNulBytes = 2, kStray = 4, kMalformed = 8 };
constexpr const char* kDamageNames[] = {"cut by a power loss", "NUL bytes", "stray bytes", "malformed entry"};

enum class Break { kNewline, kNul, kEnd, kSlice };

}  // namespace

struct LogReport::State {
    WakeSink sink;
    LogTotals totals;
    std::string pending;
    int64_t line = 1;
    unsigned lineDamage = 0;
    bool atLineStart = true;
    bool inEntry = false;  // a following line without a stamp continues this entry

    bool wakeOpen = false;
    Wake wake;
    int64_t lastSeconds = 0;
    int64_t allowance = kClockJump;
    bool rebooting = false;
    int offered = 0;
    int currentSlot = -1, dataSlot = -1;
    std::string slotIccid[2];
    std::string recordIccid;
    std::vector<int64_t> onTimes;
    std::map<std::string, int64_t> errorKinds;

    void add(const char* data, size_t size);
    void keep(const char* data, size_t size);
    void piece(const char* text, size_t length, Break how);
    void stray(const char* text, size_t length, bool startsLine);
    void entry(const char* text, size_t length, bool cut);
    void interpret(const char* stamp, int64_t seconds, std::string_view tag, int code, std::string_view message);
    void apply(Meaning meaning, std::string_view message);
    void tally_error(std::string_view tag, std::string_view message);
    void note_tag(std::string_view tag);
    void advance_clock(int64_t seconds, bool clockSet);
    void open_wake(const char* stamp, int64_t seconds);
    void close_wake(Wake::End end);
    void end_line();
    void finish();
};

void LogReport::State::add(const char* data, size_t size) {
    const char* p = data;
    const char* end = data + size;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* limit = newline != nullptr ? newline : end;
        const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(limit - p)));
        const char* stop = nul != nullptr ? nul : limit;
        const size_t length = static_cast<size_t>(stop - p);
        if (stop == end) {
            keep(p, length);
            return;
        }
        const Break how = *stop == '\n' ? Break::kNewline : Break::kNul;
        if (pending.empty() && length <= kLongestLine) {
            piece(p, length, how);
        } else {
            keep(p, length);
            piece(pending.data(), pending.size(), how);
            pending.clear();
        }
        p = stop + 1;
    }
}

// Holds the start of a line that goes on in the next piece of the log.
void LogReport::State::keep(const char* data, size_t size) {
    while (pending.size() + size > kLongestLine) {
        const size_t room = kLongestLine - pending.size();
        pending.append(data, room);
        data += room;
        size -= room;
        piece(pending.data(), pending.size(), Break::kSlice);
        pending.clear();
    }
    pending.append(data, size);
}

// Text up to a line end, a NUL byte, the end of the log or a slice of an
// overlong line. A power cut can leave an entry without its line end, the next
// wake's first entry following on the same line: every stamp starts an entry.
void LogReport::State::piece(const char* text, size_t length, Break how) {
    while (length > 0 && text[length - 1] == '\r') --length;
    const bool startsLine = atLineStart;
    atLineStart = false;
    if (how == Break::kNul) lineDamage |= kNulBytes;
    size_t at = length >= kHeaderLength && stamp_at(text) ? 0 : next_stamp(text, length, 0);
    stray(text, at, startsLine);
    while (at < length) {
        const size_t next = next_stamp(text, length, at + 1);
        entry(text + at, next - at, next < length || how != Break::kNewline);
        at = next;
    }
    if (how == Break::kNewline) end_line();
}

// Text before the first stamp of a piece: an entry's further line (old logs
// kept AT answers' line breaks) or damage.
void LogReport::State::stray(const char* text, size_t length, bool startsLine) {
    if (length == 0) return;
    if (startsLine && inEntry && printable(text, length)) return;
    lineDamage |= kStray;
    inEntry = false;
}

void LogReport::State::entry(const char* text, size_t length, bool cut) {
    ++totals.entries;
    const int64_t seconds = stamp_seconds(text);
    const std::string_view rest(text + kHeaderLength, length - kHeaderLength);
    const size_t tagEnd = rest.substr(0, kLongestTag + 1).find(';');
    size_t codeEnd = std::string_view::npos;
    if (tagEnd != std::string_view::npos && tagEnd > 0 && printable(rest.data(), tagEnd)) {
        size_t i = tagEnd + 1;
        if (i < rest.size() && rest[i] == '-') ++i;
        const size_t digits = i;
        while (i < rest.size() && digit(rest[i]) && i - digits < 6) ++i;
        if (i > digits && i < rest.size() && rest[i] == ';') codeEnd = i;
    }
    inEntry = !cut;
    if (cut) lineDamage |= kCut;
    if (codeEnd == std::string_view::npos) {
        if (!cut) lineDamage |= kMalformed;
        advance_clock(seconds, false);
        return;
    }
    const std::string_view tag = rest.substr(0, tagEnd);
    const std::string_view message = rest.substr(codeEnd + 1);
    const int code = static_cast<int>(integer_after(rest.substr(0, codeEnd), tagEnd + 1));
    // A cut message is not read for figures, except a power-on that lost only its line end.
    if (cut && meaning_of(tag, message) != Meaning::kPowerOn) {
        advance_clock(seconds, false);
        return;
    }
    interpret(text, seconds, tag, code, message);
}

void LogReport::State::interpret(const char* stamp, int64_t seconds, std::string_view tag, int code,
                                 std::string_view message) {
    note_tag(tag);
    if (code == 2) tally_error(tag, message);
    Meaning meaning = meaning_of(tag, message);
    if (meaning == Meaning::kPowerOn) {
        open_wake(stamp, seconds);
        return;
    }
    if (!wakeOpen) {
        ++totals.outsideWakes;
        return;
    }
    advance_clock(seconds, meaning == Meaning::kClockSet);
    if (code == 2) {
        ++wake.errors;
        if (wake.firstError.empty()) wake.firstError = shown(tag, kLongestTag) + ": " + shown(message, kFirstErrorLength);
        if (tag == "Data") meaning = Meaning::kDataFailed;
    }
    rebooting = meaning == Meaning::kReboot || meaning == Meaning::kModemPackage;
    if (meaning == Meaning::kPowerdown)
        close_wake(Wake::End::kPowerdown);
    else
        apply(meaning, message);
}

void LogReport::State::apply(Meaning meaning, std::string_view message) {
    switch (meaning) {
    case Meaning::kDataUp:
        if (!wake.dataUp) {
            wake.dataUp = true;
            wake.dataSeconds = wake.onSeconds;
            dataSlot = currentSlot;
        }
        break;
    case Meaning::kDataFailed:
        if (!wake.dataUp && wake.dataSeconds < 0) wake.dataSeconds = wake.onSeconds;
        break;
    case Meaning::kIccid: {
        const int64_t slot = integer_after(message, std::strlen("ICCID (slot #"));
        if (slot == 0 || slot == 1) {
            currentSlot = static_cast<int>(slot);
            slotIccid[slot] = shown(after(message, "): "), 24);
        }
        break;
    }
    case Meaning::kSlotSwitch: {
        const int64_t slot = integer_after(message, std::strlen("Switch sim card slot: "));
        if (slot == 0 || slot == 1) currentSlot = static_cast<int>(slot);
        break;
    }
    case Meaning::kStatusRecord:
        recordIccid = shown(until(after(message, "\"sim\": \""), '"'), 24);
        break;
    case Meaning::kNetwork:
        wake.mcc = shown(until(after(message, "MCC: "), ' '), 4);
        wake.mnc = shown(until(after(message, "MNC: "), ' '), 4);
        break;
    case Meaning::kRadio:
        wake.radio = shown(message.substr(std::strlen("Signal type: ")), 12);
        break;
    case Meaning::kSignal: {
        const int64_t dbm = integer_after(message, std::strlen("Signal strength: "));
        if (dbm != 0) wake.signalDbm = static_cast<int>(dbm);
        break;
    }
    case Meaning::kBattery:
        wake.battery = decimal_after(message, std::strlen("AA: "));
        break;
    case Meaning::kExternal:
        wake.external = decimal_after(message, std::strlen("Ext: "));
        break;
    case Meaning::kProcessed:
        wake.processed += static_cast<int>(integer_after(message, std::strlen("Picture processed: ")));
        break;
    case Meaning::kOffered:
        offered += static_cast<int>(integer_after(message, std::strlen("Picture to upload: ")));
        break;
    case Meaning::kUploadFailed:
        ++wake.uploadsFailed;
        break;
    case Meaning::kSimWait:
        ++wake.requests;
        // The module waits that many minutes without an entry.
        allowance = integer_after(message, std::strlen("Wait for sim update for ")) * 60 + kClockJump;
        break;
    case Meaning::kRequest:
        ++wake.requests;
        break;
    case Meaning::kUpdate:
    case Meaning::kModemPackage:
        ++wake.updates;
        break;
    case Meaning::kUpdateRefused:
        if (wake.updates > 0) --wake.updates;
        break;
    default:
        break;
    }
}

void LogReport::State::tally_error(std::string_view tag, std::string_view message) {
    std::string kind = error_kind(tag, message);
    auto found = errorKinds.find(kind);
    if (found != errorKinds.end())
        ++found->second;
    else if (errorKinds.size() < kErrorKinds)
        errorKinds.emplace(std::move(kind), 1);
    else
        ++errorKinds["(other errors)"];
}

void LogReport::State::note_tag(std::string_view tag) {
    if (std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags)) return;
    ++totals.unknownTagEntries;
    const std::string name = shown(tag, kLongestTag);
    auto& names = totals.unknownTags;
    if (names.size() < kTagsNamed && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

// On-time adds up the gaps between entries; a gap backwards, one longer than
// the module can wait without writing, or one into a clock setting is the
// clock being set, not time spent.
void LogReport::State::advance_clock(int64_t seconds, bool clockSet) {
    if (!wakeOpen) return;
    const int64_t gap = seconds - lastSeconds;
    if (gap < 0 || gap > allowance || (clockSet && gap > 2))
        ++wake.clockJumps;
    else if (!clockSet)
        wake.onSeconds += gap;
    lastSeconds = seconds;
    allowance = kClockJump;
}

void LogReport::State::open_wake(const char* stamp, int64_t seconds) {
    if (wakeOpen) close_wake(rebooting ? Wake::End::kReboot : Wake::End::kPowerLost);
    wake = Wake{};
    wake.number = totals.wakes + 1;
    wake.start.assign(stamp, kStampLength);
    wakeOpen = true;
    lastSeconds = seconds;
    allowance = kClockJump;
    rebooting = false;
    offered = 0;
    currentSlot = dataSlot = -1;
    slotIccid[0].clear();
    slotIccid[1].clear();
    recordIccid.clear();
}

void LogReport::State::close_wake(Wake::End end) {
    wakeOpen = false;
    wake.end = end;
    wake.startSeconds = lastSeconds >= kClockKnownFrom ? lastSeconds - wake.onSeconds : 0;
    wake.uploaded = std::max(0, offered - wake.uploadsFailed);
    // The card in use: the one the camera record names, else the one the data call came up on.
    int slot = dataSlot >= 0 ? dataSlot : currentSlot;
    for (int i = 0; i < 2; ++i)
        if (!recordIccid.empty() && slotIccid[i] == recordIccid) slot = i;
    wake.simSlot = slot;
    wake.iccid = !recordIccid.empty() ? recordIccid : slot >= 0 ? slotIccid[slot] : std::string();

    ++totals.wakes;
    if (end == Wake::End::kPowerLost) ++totals.powerLost;
    if (!wake.dataUp) ++totals.withoutDataCall;
    totals.picturesUploaded += wake.uploaded;
    totals.uploadsFailed += wake.uploadsFailed;
    totals.clockJumps += wake.clockJumps;
    if (wake.onSeconds > totals.longestOnSeconds || totals.longestWake == 0) {
        totals.longestOnSeconds = wake.onSeconds;
        totals.longestWake = wake.number;
    }
    onTimes.push_back(wake.onSeconds);
    if (sink) sink(wake);
}

void LogReport::State::end_line() {
    if (lineDamage != 0) {
        ++totals.unreadable;
        for (size_t kind = 0; kind < totals.damaged.size(); ++kind) {
            if ((lineDamage & (1u << kind)) == 0) continue;
            DamagedLines& damaged = totals.damaged[kind];
            ++damaged.count;
            if (damaged.first.size() < kLinesNamed) damaged.first.push_back(line);
        }
    }
    lineDamage = 0;
    ++line;
    atLineStart = true;
}

void LogReport::State::finish() {
    if (!pending.empty() || !atLineStart) {
        piece(pending.data(), pending.size(), Break::kEnd);
        pending.clear();
        end_line();
    }
    totals.lines = line - 1;
    if (wakeOpen) close_wake(rebooting ? Wake::End::kReboot : Wake::End::kPowerLost);
    if (!onTimes.empty()) {
        auto middle = onTimes.begin() + static_cast<std::ptrdiff_t>(onTimes.size() / 2);
        std::nth_element(onTimes.begin(), middle, onTimes.end());
        totals.medianOnSeconds = *middle;
    }
    std::vector<std::pair<std::string, int64_t>> kinds(errorKinds.begin(), errorKinds.end());
    const size_t top = std::min(kinds.size(), kTopErrors);
    std::partial_sort(kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(top), kinds.end(),
                      [](const auto& a, const auto& b) { return a.second > b.second; });
    kinds.resize(top);
    totals.topErrors = std::move(kinds);
}

LogReport::LogReport(WakeSink sink) : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    for (const char* name : kDamageNames) state_->totals.damaged.push_back(DamagedLines{name, 0, {}});
}

LogReport::~LogReport() = default;

void LogReport::add(const char* data, size_t size) { state_->add(data, size); }

const LogTotals& LogReport::finish() {
    state_->finish();
    return state_->totals;
}

bool log_report_file(const char* path, LogReport& report) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rbe"), &std::fclose);
    if (!file) return false;
    std::vector<char> buffer(1 << 20);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) report.add(buffer.data(), got);
    return std::ferror(file.get()) == 0;
}

std::string duration_text(int64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return text;
}

namespace {

const char* end_text(Wake::End end) {
    switch (end) {
    case Wake::End::kPowerdown: return "off";
    case Wake::End::kReboot: return "reboot";
    default: return "LOST";
    }
}

std::string data_text(const Wake& wake) {
    if (wake.dataSeconds < 0) return "-";
    return (wake.dataUp ? "" : "fail ") + duration_text(wake.dataSeconds);
}

std::string network_text(const Wake& wake) {
    if (wake.mcc.empty() && wake.radio.empty()) return "-";
    return wake.mcc + "/" + wake.mnc + " " + wake.radio;
}

// With the decimals the daemon logs.
std::string volts_text(double volts, int decimals) {
    if (volts < 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.*f", decimals, volts);
    return text;
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

// Name and width of each column; a negative width aligns left.
struct Column {
    const char* name;
    int width;
};
constexpr Column kColumns[] = {{"wake", 4},  {"start", -19}, {"on", 8},   {"end", -6},  {"data", 9},
                               {"slot", 4},  {"ICCID", -20}, {"network", -14}, {"dBm", 4}, {"AA", 5},
                               {"ext", 5},   {"proc", 4},    {"up", 3},   {"fail", 4},  {"req", 3},
                               {"upd", 3},   {"err", 3},     {"first error", 0}};

std::string table_line(const std::vector<std::string>& cells) {
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i) {
        const int width = kColumns[i].width;
        const size_t pad = static_cast<size_t>(width < 0 ? -width : width);
        const std::string& cell = cells[i];
        std::string fill(cell.size() < pad ? pad - cell.size() : 0, ' ');
        if (i > 0) out += ' ';
        out += width < 0 ? cell + fill : fill + cell;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

std::vector<std::string> wake_columns() {
    std::vector<std::string> names;
    for (const Column& column : kColumns) names.emplace_back(column.name);
    return names;
}

std::vector<std::string> wake_cells(const Wake& wake) {
    return {std::to_string(wake.number),
            wake.start,
            duration_text(wake.onSeconds),
            end_text(wake.end),
            data_text(wake),
            wake.simSlot >= 0 ? std::to_string(wake.simSlot) : "-",
            or_dash(wake.iccid),
            network_text(wake),
            wake.signalDbm != 0 ? std::to_string(wake.signalDbm) : "-",
            volts_text(wake.battery, 2),
            volts_text(wake.external, 1),
            std::to_string(wake.processed),
            std::to_string(wake.uploaded),
            std::to_string(wake.uploadsFailed),
            std::to_string(wake.requests),
            std::to_string(wake.updates),
            std::to_string(wake.errors),
            wake.firstError};
}

std::string wake_table_header() { return table_line(wake_columns()); }

std::string wake_table_row(const Wake& wake) { return table_line(wake_cells(wake)); }

std::string totals_text(const LogTotals& totals) {
    std::string out = "Wakes: " + std::to_string(totals.wakes) + ", ended by a power loss: " +
                      std::to_string(totals.powerLost) + ", without a data call: " +
                      std::to_string(totals.withoutDataCall) + "\n";
    out += "Pictures uploaded: " + std::to_string(totals.picturesUploaded) +
           " (uploads refused or failed: " + std::to_string(totals.uploadsFailed) + ")\n";
    out += "On-time: median " + duration_text(totals.medianOnSeconds) + ", longest " +
           duration_text(totals.longestOnSeconds) + " (wake " + std::to_string(totals.longestWake) + ")\n";
    out += "Clock jumps left out of on-times: " + std::to_string(totals.clockJumps) + "\n";
    out += "Most frequent errors:" + std::string(totals.topErrors.empty() ? " none\n" : "\n");
    for (const auto& [kind, count] : totals.topErrors) {
        char line[160];
        std::snprintf(line, sizeof line, "%8lld  %s\n", static_cast<long long>(count), kind.c_str());
        out += line;
    }
    out += "Lines: " + std::to_string(totals.lines) + " (" + std::to_string(totals.entries) +
           " entries), unreadable: " + std::to_string(totals.unreadable);
    for (const DamagedLines& damaged : totals.damaged) {
        if (damaged.count == 0) continue;
        out += std::string("; ") + damaged.what + ": " + std::to_string(damaged.count) + " (line";
        for (size_t i = 0; i < damaged.first.size(); ++i) out += (i == 0 ? " " : ", ") + std::to_string(damaged.first[i]);
        out += damaged.count > static_cast<int64_t>(damaged.first.size()) ? ", ...)" : ")";
    }
    out += "\n";
    if (totals.outsideWakes > 0) out += "Entries outside a wake: " + std::to_string(totals.outsideWakes) + "\n";
    if (totals.unknownTagEntries > 0) {
        out += "Entries with an unknown tag: " + std::to_string(totals.unknownTagEntries) + " (";
        for (size_t i = 0; i < totals.unknownTags.size(); ++i) out += (i == 0 ? "" : ", ") + totals.unknownTags[i];
        out += ")\n";
    }
    return out;
}
