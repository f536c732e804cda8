#include "tools/logreport/log_report.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
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
constexpr size_t kPictureNamesKept = 10000;  // per wake, for counting each failed picture once

// The tags the daemon writes.
constexpr std::string_view kTags[] = {
    "main", "Modem", "uart", "getdatetime", "setdatetime", "firstsync", "status", "config",
    "sync", "cell", "cellular", "Datetime", "signal", "SIM", "sim", "AT", "Data", "token",
    "PutCamera", "upload", "uploads", "log", "request", "camapi", "hdresult", "hdod", "update",
    "updateModem", "image", "process", "hd", "gpio", "adc"};

enum class Meaning {
    kPowerOn, kPowerdown, kReboot, kDataStarted, kDataTryFailed, kDataUp, kDataDown, kBringUpFailed,
    kIccid, kSlotSwitch, kStatusRecord, kNetwork, kRadio, kSignal, kBattery, kExternal, kProcessed,
    kOffered, kUploadFailed, kUploadFailedUnnamed, kRequest, kSimWait, kModemUpdate, kMcuUpdate,
    kMcuFailed, kRolledBack,
    kModemPackage, kClockSet, kNone
};

// The daemon's own texts the figures come from, written as it formats them:
// "%d" is a number, "%x" hex digits, "%s" any text (the one numbered
// `captured` is the text the figure takes, a picture's name for instance).
struct Rule {
    std::string_view tag, pattern;
    Meaning meaning;
    int captured = 1;
};
constexpr Rule kRules[] = {
    {"main", "Modem power-on", Meaning::kPowerOn},
    {"main", "Modem powerdown", Meaning::kPowerdown},
    {"main", "Reboot after update", Meaning::kReboot},
    // Every try of a data call logs one of these five.
    {"Data", "Profile index %d start data call success", Meaning::kDataStarted},
    {"Data", "Profile index %d start data call failure: 0x%x", Meaning::kDataTryFailed},
    {"Data", "Data call failure", Meaning::kDataTryFailed},
    {"Data", "Initialization data call failure", Meaning::kDataTryFailed},
    {"Data", "Get profile index %d information failure: errno 0x%x", Meaning::kDataTryFailed},
    {"Data", "Data activated", Meaning::kDataUp},
    {"Data", "Data is disconnected: 0x%x", Meaning::kDataDown},
    {"cell", "Open data context failed", Meaning::kBringUpFailed},
    {"cell", "Can't get stable signal", Meaning::kBringUpFailed},
    {"cellular", "Modem initialization error - %d", Meaning::kBringUpFailed},
    {"cellular", "ICCID (slot #%d): %s", Meaning::kIccid},
    {"sim", "Switch sim card slot: %d", Meaning::kSlotSwitch},
    {"status", "{%s", Meaning::kStatusRecord},
    {"cellular", "MCC: %s MNC: %s", Meaning::kNetwork},
    {"cellular", "Signal type: %s", Meaning::kRadio},
    {"cellular", "Signal strength: %d", Meaning::kSignal},
    {"status", "AA: %s", Meaning::kBattery},
    {"status", "Ext: %s", Meaning::kExternal},
    {"process", "Picture processed: %d", Meaning::kProcessed},
    {"upload", "Picture to upload: %d", Meaning::kOffered},
    {"sync", "File transfer failed for %s: %s", Meaning::kUploadFailed},
    {"sync", "Refused instruction for %s: %s", Meaning::kUploadFailed},
    {"sync", "Refused header %s for %s", Meaning::kUploadFailed, 2},
    {"sync", "Refused file name: %s", Meaning::kUploadFailed},
    {"sync", "Failed to open file: /media/sdcard/transmit/%s", Meaning::kUploadFailed},
    {"sync", "File transfer failed: %s", Meaning::kUploadFailedUnnamed},  // older daemons
    {"request", "%s", Meaning::kRequest},
    {"log", "Log request", Meaning::kRequest},
    {"hd", "HD picture ready: %s", Meaning::kRequest},
    {"hd", "HD picture not available: %s", Meaning::kRequest},
    {"camapi", "Wait for sim update for %d minutes", Meaning::kSimWait},
    {"update", "Update modem", Meaning::kModemUpdate},
    {"update", "Update mcu", Meaning::kMcuUpdate},
    {"update", "MCU firmware refused: %s", Meaning::kMcuFailed},
    {"update", "MCU flash failed: %s", Meaning::kMcuFailed},
    {"update", "MCU flash given up after 3 tries", Meaning::kMcuFailed},
    {"update", "Update rolled back: %s", Meaning::kRolledBack},
    {"updateModem", "Update modem", Meaning::kModemPackage},
    {"setdatetime", "Date/time set from MCU", Meaning::kClockSet},
};

// Entries at code 2 that are no failure: successes the daemon logs at that
// code, and failures that a later try in the same wake made good (a try is
// good when the wake goes on past it without the failure).
struct NotAnError {
    std::string_view tag, pattern;
    std::string_view retry;  // the entry of each try; empty: never an error
};
constexpr NotAnError kNotErrors[] = {
    {"sim", "Sim pin - OK", ""},
    {"hd", "HD picture ready: %s", ""},
    {"image", "Failed to transfer from SD Cable - %d", "Image transfer from SD Cable"},
};
constexpr size_t kRetried = std::size(kNotErrors);

bool digit(char c) { return c >= '0' && c <= '9'; }
bool hex_digit(char c) { return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether `message` is what `pattern` formats to; `captured` gets the text of
// its `which`th "%s".
bool matches(std::string_view pattern, std::string_view message,
             std::string_view* captured = nullptr, int which = 1) {
    size_t p = 0, m = 0;
    int texts = 0;
    while (p < pattern.size()) {
        if (pattern[p] != '%' || p + 1 >= pattern.size()) {
            if (m >= message.size() || message[m] != pattern[p]) return false;
            ++p;
            ++m;
            continue;
        }
        const char kind = pattern[p + 1];
        p += 2;
        if (kind == 's') {
            const std::string_view literal = pattern.substr(p, pattern.find('%', p) - p);
            const size_t end = p == pattern.size() ? message.size() : message.find(literal, m);
            if (end == std::string_view::npos) return false;
            if (captured != nullptr && ++texts == which) *captured = message.substr(m, end - m);
            m = end;
            continue;
        }
        if (kind == 'd' && m < message.size() && message[m] == '-') ++m;
        const size_t first = m;
        while (m < message.size() && (kind == 'x' ? hex_digit(message[m]) : digit(message[m]))) ++m;
        if (m == first) return false;
    }
    return m == message.size();
}

const Rule* rule_for(std::string_view tag, std::string_view message, std::string_view& captured) {
    for (const Rule& rule : kRules)
        if (rule.tag == tag && matches(rule.pattern, message, &captured, rule.captured)) return &rule;
    return nullptr;
}

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

// The integer at the start of `text` (optional "-"), 0 when there is none.
int64_t leading_integer(std::string_view text) {
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (negative) ++i;
    int64_t value = 0;
    for (; i < text.size() && digit(text[i]) && value < 1000000000; ++i) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

// The first number in `text`, 0 when there is none.
int64_t first_integer(std::string_view text) {
    const size_t at = text.find_first_of("-0123456789");
    return at == std::string_view::npos ? 0 : leading_integer(text.substr(at));
}

// "6.12" at the start of `text`; -1 when it does not start with a digit.
double leading_decimal(std::string_view text) {
    if (text.empty() || !digit(text[0])) return -1;
    double value = static_cast<double>(leading_integer(text));
    size_t i = 0;
    while (i < text.size() && digit(text[i])) ++i;
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && digit(text[i]); ++i, scale /= 10) value += (text[i] - '0') * scale;
    }
    return value;
}

std::string_view after(std::string_view text, std::string_view marker) {
    const size_t at = text.find(marker);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + marker.size());
}

std::string_view until(std::string_view text, char end) { return text.substr(0, text.find(end)); }

enum DamageKind : size_t { kCut, kNulRun, kStray, kMalformed };
constexpr const char* kDamageNames[] = {"entries cut short", "NUL runs", "stray bytes", "malformed entries"};

enum class Break { kNewline, kNul, kEnd, kSlice };

// Failures of one retried kind waiting for the outcome of the next try.
struct PendingFailures {
    int64_t count = 0;
    int64_t firstEntry = 0;
    std::string kind, firstText;
    bool trying = false;       // a try was logged in this wake
    bool tryFailed = false;    // ... and its failure followed
    int64_t tryEntry = 0;
};

}  // namespace

struct LogReport::State {
    WakeSink sink;
    LogTotals totals;
    std::string pending;
    int64_t line = 1;
    bool atLineStart = true;
    bool inEntry = false;  // a following line without a stamp continues this entry
    bool inNulRun = false;

    bool wakeOpen = false;
    Wake wake;
    int64_t lastSeconds = 0;
    int64_t allowance = kClockJump;
    bool rebooting = false;
    int offered = 0, failedOffers = 0;
    int modemUpdates = 0, mcuUpdates = 0;  // installs this wake, for a later failure to take back
    int currentSlot = -1, dataSlot = -1;
    std::string slotIccid[2];
    std::string recordIccid;
    std::set<std::string> failedPictures;
    int64_t firstErrorEntry = 0, lastWakeEntry = 0;
    int unnamedFailures = 0;
    PendingFailures retried[kRetried];
    std::vector<int64_t> onTimes;
    std::map<std::string, int64_t> errorKinds;

    void add(const char* data, size_t size);
    void keep(const char* data, size_t size);
    void piece(const char* text, size_t length, Break how);
    void stray(const char* text, size_t length, bool startsLine);
    void entry(const char* text, size_t length, bool cut);
    void interpret(const char* stamp, int64_t seconds, std::string_view tag, int code, std::string_view message);
    void apply(Meaning meaning, std::string_view message, std::string_view captured);
    void take_back(int& installs);
    void failure(std::string_view tag, std::string_view message);
    void note_try(std::string_view tag, std::string_view message);
    void settle_retry(size_t rule, bool madeGood);
    void count_error(const std::string& kind, int64_t count, int64_t entryNumber,
                     const std::string& text);
    void tally_error(const std::string& kind, int64_t count);
    void note_damage(DamageKind kind);
    void note_tag(std::string_view tag);
    void advance_clock(int64_t seconds, bool clockSet);
    void open_wake(const char* stamp, int64_t seconds);
    void close_wake(Wake::End end);
    void end_line();
    void finish();
};

// Splits the log at line ends and NUL runs. Every byte is looked at a bounded
// number of times, so a card with a zeroed region reads as fast as a clean one.
void LogReport::State::add(const char* data, size_t size) {
    const char* p = data;
    const char* end = data + size;
    const char* newline = nullptr;  // the next line end at or after p, or `end`
    while (p < end) {
        if (inNulRun) {
            const char* after = p;
            while (after < end && *after == '\0') ++after;
            totals.damage[kNulRun].bytes += after - p;
            p = after;
            if (p == end) return;
            inNulRun = false;
        }
        if (newline == nullptr || newline < p) {
            newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (newline == nullptr) newline = end;
        }
        const size_t toNewline = static_cast<size_t>(newline - p);
        const char* nul = static_cast<const char*>(std::memchr(p, '\0', toNewline));
        const char* stop = nul != nullptr ? nul : newline;
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
        if (how == Break::kNul) {
            note_damage(kNulRun);
            inNulRun = true;
        }
        p = stop + (how == Break::kNewline ? 1 : 0);
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
    note_damage(kStray);
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
    if (cut) note_damage(kCut);
    if (codeEnd == std::string_view::npos) {
        if (!cut) note_damage(kMalformed);
        advance_clock(seconds, false);
        return;
    }
    const std::string_view tag = rest.substr(0, tagEnd);
    const std::string_view message = rest.substr(codeEnd + 1);
    const std::string_view codeText = rest.substr(tagEnd + 1, codeEnd - tagEnd - 1);
    const int code = static_cast<int>(leading_integer(codeText));
    // A cut message is not read for figures, except a power-on that lost only its line end.
    if (cut && !(tag == "main" && message == "Modem power-on")) {
        advance_clock(seconds, false);
        return;
    }
    interpret(text, seconds, tag, code, message);
}

void LogReport::State::interpret(const char* stamp, int64_t seconds, std::string_view tag, int code,
                                 std::string_view message) {
    note_tag(tag);
    std::string_view captured;
    const Rule* rule = rule_for(tag, message, captured);
    const Meaning meaning = rule != nullptr ? rule->meaning : Meaning::kNone;
    if (meaning == Meaning::kPowerOn) {
        open_wake(stamp, seconds);
        return;
    }
    if (code == 2) failure(tag, message);
    if (!wakeOpen) {
        ++totals.outsideWakes;
        return;
    }
    advance_clock(seconds, meaning == Meaning::kClockSet);
    note_try(tag, message);
    // An update's reboot, or a rollback's, is the last entry of its wake.
    rebooting = meaning == Meaning::kReboot || meaning == Meaning::kModemPackage ||
                meaning == Meaning::kRolledBack;
    if (meaning == Meaning::kPowerdown)
        close_wake(Wake::End::kPowerdown);
    else
        apply(meaning, message, captured);
}

void LogReport::State::apply(Meaning meaning, std::string_view message, std::string_view captured) {
    switch (meaning) {
    case Meaning::kDataStarted:
    case Meaning::kDataTryFailed:
        if (!wake.dataUp) ++wake.dataAttempts;
        break;
    case Meaning::kDataUp:
        if (!wake.dataUp) {
            wake.dataUp = true;
            wake.dataSeconds = wake.onSeconds;
            dataSlot = currentSlot;
        }
        break;
    case Meaning::kBringUpFailed:
        wake.dataFailed = !wake.dataUp;
        break;
    case Meaning::kIccid: {
        const int64_t slot = leading_integer(after(message, "#"));
        if (slot == 0 || slot == 1) {
            currentSlot = static_cast<int>(slot);
            slotIccid[slot] = shown(after(message, "): "), 24);
        }
        break;
    }
    case Meaning::kSlotSwitch: {
        const int64_t slot = first_integer(message);
        if (slot == 0 || slot == 1) currentSlot = static_cast<int>(slot);
        break;
    }
    case Meaning::kStatusRecord:
        recordIccid = shown(until(after(message, "\"sim\": \""), '"'), 24);
        wake.lowBattery = message.find("\"low_battery\"") != std::string_view::npos;
        break;
    case Meaning::kNetwork:
        wake.mcc = shown(until(after(message, "MCC: "), ' '), 4);
        wake.mnc = shown(until(after(message, "MNC: "), ' '), 4);
        break;
    case Meaning::kRadio:
        wake.radio = shown(captured, 12);
        break;
    case Meaning::kSignal:
        if (const int64_t dbm = first_integer(message); dbm != 0)
            wake.signalDbm = static_cast<int>(dbm);
        break;
    case Meaning::kBattery:
        wake.battery = leading_decimal(captured);
        break;
    case Meaning::kExternal:
        wake.external = leading_decimal(captured);
        break;
    case Meaning::kProcessed:
        wake.processed += static_cast<int>(first_integer(message));
        break;
    case Meaning::kOffered:
        offered += static_cast<int>(first_integer(message));
        break;
    case Meaning::kUploadFailed:
        // Each refusal of an offered picture takes one from the offers; the
        // picture counts once as failed however often it was refused.
        ++failedOffers;
        if (failedPictures.size() < kPictureNamesKept) failedPictures.insert(shown(captured, 64));
        break;
    case Meaning::kUploadFailedUnnamed:
        ++failedOffers;
        ++unnamedFailures;
        break;
    case Meaning::kSimWait:
        ++wake.requests;
        // The module waits that many minutes without an entry.
        allowance = first_integer(message) * 60 + kClockJump;
        break;
    case Meaning::kRequest:
        ++wake.requests;
        break;
    case Meaning::kModemUpdate:
    case Meaning::kModemPackage:
        ++wake.updates;
        ++modemUpdates;
        break;
    case Meaning::kMcuUpdate:
        ++wake.updates;
        ++mcuUpdates;
        break;
    case Meaning::kMcuFailed:
        wake.mcuFlashFailed = true;
        take_back(mcuUpdates);
        break;
    case Meaning::kRolledBack:
        wake.rolledBack = true;
        take_back(modemUpdates);
        break;
    default:
        break;
    }
}

// A part that failed after its install this wake is not installed after all.
void LogReport::State::take_back(int& installs) {
    if (installs == 0) return;
    --installs;
    --wake.updates;
}

// An entry at code 2: an error unless the daemon logs a success that way, or
// a later try makes it good.
void LogReport::State::failure(std::string_view tag, std::string_view message) {
    for (size_t i = 0; i < kRetried; ++i) {
        const NotAnError& rule = kNotErrors[i];
        if (rule.tag != tag || !matches(rule.pattern, message)) continue;
        if (rule.retry.empty()) return;
        if (!wakeOpen) break;
        PendingFailures& waiting = retried[i];
        if (waiting.count++ == 0) {
            waiting.firstEntry = totals.entries;
            waiting.kind = error_kind(tag, message);
            waiting.firstText = shown(tag, kLongestTag) + ": " + shown(message, kFirstErrorLength);
        }
        waiting.tryFailed = true;
        return;
    }
    count_error(error_kind(tag, message), 1, totals.entries,
                shown(tag, kLongestTag) + ": " + shown(message, kFirstErrorLength));
}

// A new try: the one before it was good when its failure did not follow.
void LogReport::State::note_try(std::string_view tag, std::string_view message) {
    for (size_t i = 0; i < kRetried; ++i) {
        const NotAnError& rule = kNotErrors[i];
        if (rule.retry.empty() || rule.tag != tag || message != rule.retry) continue;
        PendingFailures& waiting = retried[i];
        if (waiting.trying && !waiting.tryFailed) settle_retry(i, true);
        waiting.trying = true;
        waiting.tryFailed = false;
        waiting.tryEntry = totals.entries;
    }
}

// Failures waiting for a try become errors, or are forgotten when a try made them good.
void LogReport::State::settle_retry(size_t rule, bool madeGood) {
    PendingFailures& waiting = retried[rule];
    if (waiting.count > 0 && !madeGood)
        count_error(waiting.kind, waiting.count, waiting.firstEntry, waiting.firstText);
    waiting = PendingFailures{};
}

void LogReport::State::count_error(const std::string& kind, int64_t count, int64_t entryNumber,
                                   const std::string& text) {
    tally_error(kind, count);
    if (!wakeOpen) return;
    wake.errors += static_cast<int>(count);
    if (wake.firstError.empty() || entryNumber < firstErrorEntry) {
        wake.firstError = text;
        firstErrorEntry = entryNumber;
    }
}

void LogReport::State::tally_error(const std::string& kind, int64_t count) {
    auto found = errorKinds.find(kind);
    if (found != errorKinds.end())
        found->second += count;
    else if (errorKinds.size() < kErrorKinds)
        errorKinds.emplace(kind, count);
    else
        errorKinds["(other errors)"] += count;
}

void LogReport::State::note_damage(DamageKind kind) {
    Damage& damage = totals.damage[kind];
    ++damage.count;
    if (damage.firstLines.size() < kLinesNamed &&
        (damage.firstLines.empty() || damage.firstLines.back() != line))
        damage.firstLines.push_back(line);
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
    lastWakeEntry = totals.entries;
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
    offered = failedOffers = 0;
    modemUpdates = mcuUpdates = 0;
    currentSlot = dataSlot = -1;
    slotIccid[0].clear();
    slotIccid[1].clear();
    recordIccid.clear();
    failedPictures.clear();
    unnamedFailures = 0;
    firstErrorEntry = 0;
}

void LogReport::State::close_wake(Wake::End end) {
    // The last try was good when the wake went on past it without its failure.
    for (size_t i = 0; i < kRetried; ++i) {
        const PendingFailures& waiting = retried[i];
        const bool goneOn = end != Wake::End::kPowerLost || lastWakeEntry > waiting.tryEntry;
        settle_retry(i, waiting.trying && !waiting.tryFailed && goneOn);
    }
    wakeOpen = false;
    wake.end = end;
    wake.startSeconds = lastSeconds >= kClockKnownFrom ? lastSeconds - wake.onSeconds : 0;
    wake.uploaded = std::max(0, offered - failedOffers);
    wake.uploadsFailed = static_cast<int>(failedPictures.size()) + unnamedFailures;
    wake.dataFailed = !wake.dataUp && (wake.dataAttempts > 0 || wake.dataFailed);
    // The card in use: the one the camera record names, else the one the data call came up on.
    int slot = dataSlot >= 0 ? dataSlot : currentSlot;
    for (int i = 0; i < 2; ++i)
        if (!recordIccid.empty() && slotIccid[i] == recordIccid) slot = i;
    wake.simSlot = slot;
    wake.iccid = !recordIccid.empty() ? recordIccid : slot >= 0 ? slotIccid[slot] : std::string();

    ++totals.wakes;
    if (end == Wake::End::kPowerLost) ++totals.powerLost;
    if (!wake.dataUp) ++totals.withoutDataCall;
    if (wake.dataFailed) ++totals.dataCallFailed;
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
                      [](const auto& a, const auto& b) {
                          return a.second != b.second ? a.second > b.second : a.first < b.first;
                      });
    kinds.resize(top);
    totals.topErrors = std::move(kinds);
}

LogReport::LogReport(WakeSink sink) : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    for (const char* name : kDamageNames) state_->totals.damage.push_back(Damage{name, 0, 0, {}});
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
