#include "platform/KeyedUnarchiver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <plist/plist.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Archives larger than this are not something this program writes or needs
// to read; the property-list library also takes lengths in 32 bits.
constexpr std::size_t kMaxInputBytes = std::size_t(256) << 20;

// Genuine archives are flat (everything lives in $objects), so the property
// list itself is only a few levels deep; anything deeper is hostile and would
// run the property-list library out of stack.
constexpr int kMaxPlistNesting = 64;
constexpr std::size_t kMaxXmlNesting = 512;

// How many values one input byte may turn into. Shared references let a small
// archive describe an enormous tree; honest archives stay near one value per
// byte, so this ratio only stops the blow-ups.
constexpr std::uint64_t kExpansionPerByte = 64;

std::uint64_t clampLimit(std::uint64_t v, std::uint64_t lo, std::uint64_t hi) {
    return std::min(std::max(v, lo), hi);
}

struct PlistFree {
    void operator()(void* node) const {
        if (node) plist_free(static_cast<plist_t>(node));
    }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// ---------------------------------------------------------------------------
// Binary property lists are checked before the property-list library sees
// them: it follows references without limit, so a few kilobytes of shared
// references expand into gigabytes, and a long chain of nested arrays takes
// it minutes or its whole stack. This walk bounds every offset, length and
// reference, refuses cycles and deep nesting, and counts the tree the
// library would build.
class BinaryPlistCheck {
public:
    BinaryPlistCheck(const std::uint8_t* p, std::size_t n)
        : p_(p), n_(n), maxNodes_(clampLimit(std::uint64_t(n) * 8, 1u << 16, 1u << 25)) {}

    // Empty when the list is sound enough to hand to the library.
    std::string problem() {
        if (!readTrailer()) return why_;
        std::uint64_t nodes = 0;
        std::uint8_t kind = 0;
        if (!visit(top_, 0, nodes, kind)) return why_;
        return {};
    }

private:
    enum Kind : std::uint8_t { kScalar = 1, kText, kArray, kDict };

    struct Seen {
        std::uint64_t nodes;
        std::uint8_t kind;
    };

    bool fail(std::string why) {
        if (why_.empty()) why_ = std::move(why);
        return false;
    }

    // Big-endian unsigned of 1..8 bytes; the caller has bounded pos + width.
    std::uint64_t readBE(std::size_t pos, unsigned width) const {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i)
            v = (v << 8) | p_[pos + i];
        return v;
    }

    bool readTrailer() {
        if (n_ < 8 + 1 + 1 + 32) return fail("the binary property list is truncated");
        const std::size_t t = n_ - 32;
        offsetSize_ = p_[t + 6];
        refSize_ = p_[t + 7];
        numObjects_ = readBE(t + 8, 8);
        top_ = readBE(t + 16, 8);
        const std::uint64_t table = readBE(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail("the binary property list has a damaged trailer");
        if (numObjects_ == 0 || top_ >= numObjects_) return fail("the binary property list has no valid top object");
        if (table < 9 || table > t) return fail("the binary property list's offset table is misplaced");
        if (numObjects_ > (t - table) / offsetSize_)
            return fail("the binary property list's offset table is truncated");
        tableOffset_ = static_cast<std::size_t>(table);
        return true;
    }

    // Reads the header of object `index` and the number of references it
    // holds; refsAt is where they start.
    bool describe(std::uint64_t index, Kind& kind, std::uint64_t& refs, std::size_t& refsAt) {
        const std::uint64_t off = readBE(tableOffset_ + static_cast<std::size_t>(index) * offsetSize_, offsetSize_);
        if (off < 8 || off >= tableOffset_) return fail("an object offset lies outside the binary property list");
        std::size_t pos = static_cast<std::size_t>(off);
        const std::size_t end = tableOffset_;
        const std::uint8_t marker = p_[pos++];
        const unsigned hi = marker >> 4, lo = marker & 15;
        auto need = [&](std::uint64_t bytes) {
            if (bytes > end - pos) return fail("an object runs past the end of its data");
            return true;
        };
        refs = 0;
        refsAt = pos;
        switch (hi) {
        case 0x0:
            if (marker != 0x08 && marker != 0x09) return fail("an object has an unsupported type");
            kind = kScalar;
            return true;
        case 0x1:
            if (lo > 4) return fail("an integer has an unsupported size");
            kind = kScalar;
            return need(std::uint64_t(1) << lo);
        case 0x2:
            if (lo != 2 && lo != 3) return fail("a real number has an unsupported size");
            kind = kScalar;
            return need(std::uint64_t(1) << lo);
        case 0x3:
            if (marker != 0x33) return fail("a date has an unsupported size");
            kind = kScalar;
            return need(8);
        case 0x8:
            if (lo > 7) return fail("a UID has an unsupported size");
            kind = kScalar;
            return need(lo + 1);
        case 0x4:
        case 0x5:
        case 0x6:
        case 0xA:
        case 0xD: {
            std::uint64_t count = lo;
            if (lo == 15) {
                if (!need(1)) return false;
                const std::uint8_t ext = p_[pos++];
                if ((ext >> 4) != 0x1 || (ext & 15) > 3) return fail("an object length is malformed");
                const unsigned width = 1u << (ext & 15);
                if (!need(width)) return false;
                count = readBE(pos, width);
                pos += width;
            }
            std::uint64_t unit = 1;
            if (hi == 0x6) unit = 2;
            if (hi == 0xA) unit = refSize_;
            if (hi == 0xD) unit = 2 * std::uint64_t(refSize_);
            if (count > (end - pos) / unit) return fail("an object runs past the end of its data");
            kind = hi == 0xA ? kArray : hi == 0xD ? kDict : hi == 0x4 ? kScalar : kText;
            refs = (hi == 0xA || hi == 0xD) ? count * (hi == 0xD ? 2 : 1) : 0;
            refsAt = pos;
            return true;
        }
        default:
            return fail("an object has an unsupported type");
        }
    }

    bool visit(std::uint64_t index, int depth, std::uint64_t& nodes, std::uint8_t& kind) {
        if (depth > kMaxPlistNesting) return fail("the property list is nested too deeply");
        if (auto it = seen_.find(index); it != seen_.end()) {
            nodes = it->second.nodes;
            kind = it->second.kind;
            return true;
        }
        if (onPath_.count(index)) return fail("the property list contains itself");
        Kind k;
        std::uint64_t refs;
        std::size_t at;
        if (!describe(index, k, refs, at)) return false;
        std::uint64_t total = 1;
        if (refs) {
            onPath_.insert(index);
            const std::uint64_t keys = k == kDict ? refs / 2 : 0;
            for (std::uint64_t i = 0; i < refs; ++i) {
                const std::uint64_t child = readBE(at + static_cast<std::size_t>(i) * refSize_, refSize_);
                if (child >= numObjects_) return fail("a reference points past the last object");
                std::uint64_t childNodes = 0;
                std::uint8_t childKind = 0;
                if (!visit(child, depth + 1, childNodes, childKind)) return false;
                if (i < keys && childKind != kText) return fail("a dictionary key is not a string");
                total += childNodes;
                if (total > maxNodes_) return fail("the property list expands to too many objects");
            }
            onPath_.erase(index);
        }
        seen_.emplace(index, Seen{total, k});
        nodes = total;
        kind = k;
        return true;
    }

    const std::uint8_t* p_;
    std::size_t n_;
    std::uint64_t maxNodes_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t numObjects_ = 0, top_ = 0;
    std::size_t tableOffset_ = 0;
    std::unordered_map<std::uint64_t, Seen> seen_;
    std::unordered_set<std::uint64_t> onPath_;
    std::string why_;
};

// ---------------------------------------------------------------------------
// The library's XML reader recurses once per element, so a file of a million
// nested tags exhausts the stack. This scan measures nesting the way any XML
// reader must see it, erring high: tags inside comments and other skipped
// sections still count as opened, and closing tags must match.
std::string xmlNestingProblem(const char* p, std::size_t n) {
    std::vector<std::string_view> open;
    std::size_t hidden = 0;
    auto find = [&](std::size_t from, std::string_view what) -> std::size_t {
        if (from > n) return n;
        std::string_view rest(p + from, n - from);
        auto at = rest.find(what);
        return at == std::string_view::npos ? n : from + at;
    };
    auto countHidden = [&](std::size_t from, std::size_t to) {
        std::string_view region(p + from, to - from);
        for (std::string_view tag : {std::string_view("<array"), std::string_view("<dict")}) {
            for (auto at = region.find(tag); at != std::string_view::npos; at = region.find(tag, at + 1))
                ++hidden;
        }
    };
    auto startsWith = [&](std::size_t at, std::string_view what) {
        return n - at >= what.size() && std::memcmp(p + at, what.data(), what.size()) == 0;
    };
    auto isNameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
               c == '.' || c == '-';
    };
    std::size_t i = 0;
    while (i < n) {
        const void* lt = std::memchr(p + i, '<', n - i);
        if (!lt) break;
        i = static_cast<std::size_t>(static_cast<const char*>(lt) - p);
        std::size_t end;
        if (startsWith(i, "<!--")) {
            end = find(i + 4, "-->");
            countHidden(i, end);
            i = std::min(n, end + 3);
        } else if (startsWith(i, "<![CDATA[")) {
            end = find(i + 9, "]]>");
            countHidden(i, end);
            i = std::min(n, end + 3);
        } else if (startsWith(i, "<?")) {
            end = find(i + 2, "?>");
            countHidden(i, end);
            i = std::min(n, end + 2);
        } else if (startsWith(i, "<!")) {
            end = find(i + 2, ">");
            if (std::memchr(p + i, '[', end - i)) return "the XML property list has an inline DTD";
            countHidden(i, end);
            i = std::min(n, end + 1);
        } else if (startsWith(i, "</")) {
            std::size_t s = i + 2, e = s;
            while (e < n && isNameChar(p[e]))
                ++e;
            if (open.empty() || open.back() != std::string_view(p + s, e - s))
                return "the XML property list has mismatched tags";
            open.pop_back();
            end = find(e, ">");
            i = std::min(n, end + 1);
        } else {
            std::size_t s = i + 1, e = s;
            while (e < n && isNameChar(p[e]))
                ++e;
            if (e == s) return "the XML property list is malformed";
            // Find the tag's end, stepping over quoted attribute values.
            char quote = 0;
            end = e;
            while (end < n && (quote || p[end] != '>')) {
                if (quote && p[end] == quote)
                    quote = 0;
                else if (!quote && (p[end] == '"' || p[end] == '\''))
                    quote = p[end];
                ++end;
            }
            if (end >= n) break; // truncated; the reader rejects it
            if (p[end - 1] != '/') {
                open.emplace_back(p + s, e - s);
                if (open.size() + hidden > kMaxXmlNesting) return "the XML property list is nested too deeply";
            }
            i = end + 1;
        }
        if (hidden > kMaxXmlNesting) return "the XML property list is nested too deeply";
    }
    return {};
}

// ---------------------------------------------------------------------------
// Node readers that never trust the node's type.

bool uidOf(plist_t node, std::uint64_t& out) {
    if (!node) return false;
    const plist_type t = plist_get_node_type(node);
    if (t == PLIST_UID) {
        out = 0;
        plist_get_uid_val(node, &out);
        return true;
    }
    // XML archives spell a UID as a one-entry dictionary {CF$UID = n}.
    if (t == PLIST_DICT && plist_dict_get_size(node) == 1) {
        plist_t v = plist_dict_get_item(node, "CF$UID");
        if (v && plist_get_node_type(v) == PLIST_UINT) {
            out = 0;
            plist_get_uint_val(v, &out);
            return true;
        }
    }
    return false;
}

// The string accessors that copy assert the text has no NUL inside, and a
// damaged file can produce one; the pointer form has no such check.
bool stringOf(plist_t node, std::string& out) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return false;
    std::uint64_t len = 0;
    const char* s = plist_get_string_ptr(node, &len);
    if (!s) {
        out.clear();
        return true;
    }
    out.assign(s, static_cast<std::size_t>(len));
    return true;
}

bool dataOf(plist_t node, Data& out) {
    if (!node || plist_get_node_type(node) != PLIST_DATA) return false;
    std::uint64_t len = 0;
    const char* s = plist_get_data_ptr(node, &len);
    if (!s || len == 0) {
        out.clear();
        return true;
    }
    const auto* b = reinterpret_cast<const std::uint8_t*>(s);
    out.assign(b, b + len);
    return true;
}

// Calls f(item) for each element of an array node until f returns false.
template <class F> bool forEachItem(plist_t array, F&& f) {
    if (plist_array_get_size(array) == 0) return true;
    plist_array_iter iter = nullptr;
    plist_array_new_iter(array, &iter);
    if (!iter) return false;
    std::unique_ptr<void, decltype(&std::free)> owned(iter, &std::free);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iter, &item);
        if (!item) return true;
        if (!f(item)) return false;
    }
}

const char* typeName(plist_type t) {
    switch (t) {
    case PLIST_BOOLEAN:
        return "a boolean";
    case PLIST_UINT:
        return "an integer";
    case PLIST_REAL:
        return "a real number";
    case PLIST_STRING:
        return "a string";
    case PLIST_ARRAY:
        return "an array";
    case PLIST_DICT:
        return "a dictionary";
    case PLIST_DATE:
        return "a date";
    case PLIST_DATA:
        return "data";
    case PLIST_KEY:
        return "a key";
    case PLIST_UID:
        return "a reference";
    default:
        return "nothing";
    }
}

struct Registry {
    std::mutex mutex;
    KeyedUnarchiver::ClassTable table;
};

Registry& registry() {
    static Registry r;
    return r;
}

// Text from the file, made safe to show in an error message.
std::string shown(std::string_view text) {
    if (text.size() > 80) text = text.substr(0, 80);
    std::string out;
    const bool utf8 = keyedarchive::isStorableText(text);
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Dates come back as the archive stores them: seconds since the platform's
// reference date, 2001-01-01 00:00 UTC.
double dateSeconds(plist_t node) {
    std::int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return double(sec) + double(usec) / 1e6;
}

} // namespace

// ---------------------------------------------------------------------------

struct KeyedUnarchiver::Impl {
    enum class State : std::uint8_t { Unvisited, InProgress, Visited };

    KeyedUnarchiver* self = nullptr;
    const ClassTable* extra = nullptr;
    std::vector<plist_t> objects; // $objects, indexed by UID
    std::vector<State> state;
    // Records rebuilt by factories, by UID: a shared reference must give the
    // same object, and a factory must not run twice for one record. Arrays,
    // dictionaries and strings are values and are simply read again.
    std::unordered_map<std::uint64_t, Value> rebuilt;
    plist_t record = nullptr; // the record the decode calls read
    std::string recordClass;
    int depth = 0;
    std::uint64_t steps = 0;
    std::uint64_t maxSteps = 0;
    std::optional<std::string> error;

    void fail(std::string message) {
        if (!error) error = std::move(message);
    }

    std::string where(std::uint64_t uid) const { return "object " + std::to_string(uid); }

    plist_t entry(std::string_view key) const {
        if (!record || key.find('\0') != std::string_view::npos) return nullptr;
        return plist_dict_get_item(record, keyedarchive::escapedKey(key).c_str());
    }

    std::string entryName(std::string_view key) const {
        return "entry \"" + std::string(key) + "\" of a " + recordClass + " record";
    }

    struct Nest {
        Impl& d;
        bool ok;
        explicit Nest(Impl& impl) : d(impl), ok(++impl.depth <= keyedarchive::kMaxNesting) {
            if (!ok) d.fail("the archive nests objects more than 256 levels deep");
        }
        ~Nest() { --d.depth; }
    };

    Value decodeUID(std::uint64_t uid) {
        if (error) return {};
        // Every value produced passes through here, so counting here bounds
        // the work however the archive shares its references.
        if (++steps > maxSteps) {
            fail("the archive expands to too many values");
            return {};
        }
        Nest nest(*this);
        if (!nest.ok) return {};
        if (uid == 0) return {};
        if (uid >= objects.size()) {
            fail("a reference to object " + std::to_string(uid) + " points past the end of $objects (" +
                 std::to_string(objects.size()) + " objects)");
            return {};
        }
        const std::size_t i = static_cast<std::size_t>(uid);
        if (state[i] == State::InProgress) {
            fail(where(uid) + " contains itself through its own references");
            return {};
        }
        if (auto it = rebuilt.find(uid); it != rebuilt.end()) return it->second;
        state[i] = State::InProgress;
        Value v = decodeNode(uid, objects[i]);
        state[i] = State::Visited;
        return error ? Value() : v;
    }

    Value decodeNode(std::uint64_t uid, plist_t node) {
        const plist_type t = node ? plist_get_node_type(node) : PLIST_NONE;
        switch (t) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // The binary format stores integers as signed 64-bit.
            return Value(static_cast<std::int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            std::string s;
            stringOf(node, s);
            return Value(std::move(s));
        }
        case PLIST_DATA: {
            Data bytes;
            dataOf(node, bytes);
            return Value(std::move(bytes));
        }
        case PLIST_DATE:
            return Value(dateSeconds(node));
        case PLIST_DICT:
            return decodeRecord(uid, node);
        default:
            fail(where(uid) + " is " + typeName(t) + ", which cannot stand as an archived object");
            return {};
        }
    }

    // The UIDs listed under key in a record; a missing list is empty.
    bool uidList(std::uint64_t uid, plist_t rec, const char* key, std::vector<std::uint64_t>& out) {
        out.clear();
        plist_t list = plist_dict_get_item(rec, key);
        if (!list) return true;
        if (plist_get_node_type(list) != PLIST_ARRAY) {
            fail(where(uid) + ": " + key + " is not an array");
            return false;
        }
        const std::uint32_t n = plist_array_get_size(list);
        if (n > maxSteps) {
            fail("the archive expands to too many values");
            return false;
        }
        out.reserve(n);
        bool ok = forEachItem(list, [&](plist_t item) {
            std::uint64_t ref = 0;
            if (!uidOf(item, ref)) {
                fail(where(uid) + ": " + key + " holds something other than a reference");
                return false;
            }
            out.push_back(ref);
            return true;
        });
        if (!ok) fail(where(uid) + ": " + key + " could not be read");
        return ok && !error;
    }

    Value decodeArray(std::uint64_t uid, plist_t rec) {
        std::vector<std::uint64_t> refs;
        if (!uidList(uid, rec, "NS.objects", refs)) return {};
        Array items;
        items.reserve(refs.size());
        for (auto ref : refs) {
            items.push_back(decodeUID(ref));
            if (error) return {};
        }
        return Value(std::move(items));
    }

    Value decodeDict(std::uint64_t uid, plist_t rec) {
        std::vector<std::uint64_t> keys, values;
        if (!uidList(uid, rec, "NS.keys", keys) || !uidList(uid, rec, "NS.objects", values)) return {};
        if (keys.size() != values.size()) {
            fail(where(uid) + ": a dictionary has " + std::to_string(keys.size()) + " keys but " +
                 std::to_string(values.size()) + " values");
            return {};
        }
        Dict dict;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            Value k = decodeUID(keys[i]);
            if (error) return {};
            if (!k.isString()) {
                fail(where(uid) + ": a dictionary key is not a string");
                return {};
            }
            Value v = decodeUID(values[i]);
            if (error) return {};
            dict.set(k.stringValue(), std::move(v));
        }
        return Value(std::move(dict));
    }

    // A value kept inline in a record, or behind a reference.
    Value inlineOrReferenced(plist_t node) {
        std::uint64_t ref = 0;
        if (uidOf(node, ref)) return decodeUID(ref);
        Data bytes;
        std::string s;
        if (dataOf(node, bytes)) return Value(std::move(bytes));
        if (stringOf(node, s)) return Value(std::move(s));
        return {};
    }

    Value decodeRecord(std::uint64_t uid, plist_t rec) {
        std::uint64_t classUID = 0;
        if (!uidOf(plist_dict_get_item(rec, "$class"), classUID)) {
            fail(where(uid) + " is a dictionary without a $class reference");
            return {};
        }
        if (classUID == 0 || classUID >= objects.size()) {
            fail(where(uid) + " has a $class reference that points nowhere");
            return {};
        }
        plist_t classRec = objects[static_cast<std::size_t>(classUID)];
        std::string name;
        if (!classRec || plist_get_node_type(classRec) != PLIST_DICT ||
            !stringOf(plist_dict_get_item(classRec, "$classname"), name)) {
            fail(where(uid) + " has a class record without a $classname");
            return {};
        }

        if (isOneOf(name,
                    {"NSArray", "NSMutableArray", "NSSet", "NSMutableSet", "NSOrderedSet", "NSMutableOrderedSet"}))
            return decodeArray(uid, rec);
        if (isOneOf(name, {"NSDictionary", "NSMutableDictionary"})) return decodeDict(uid, rec);
        if (isOneOf(name, {"NSString", "NSMutableString"})) {
            Value s = inlineOrReferenced(plist_dict_get_item(rec, "NS.string"));
            if (!error && !s.isString()) fail(where(uid) + ": a " + name + " record holds no string");
            return error ? Value() : s;
        }
        if (isOneOf(name, {"NSData", "NSMutableData"})) {
            Value d = inlineOrReferenced(plist_dict_get_item(rec, "NS.data"));
            if (!error && !d.isData()) fail(where(uid) + ": a " + name + " record holds no data");
            return error ? Value() : d;
        }
        if (isOneOf(name, {"NSDate"})) {
            plist_t time = plist_dict_get_item(rec, "NS.time");
            const plist_type t = time ? plist_get_node_type(time) : PLIST_NONE;
            double seconds = 0;
            if (t == PLIST_REAL) {
                plist_get_real_val(time, &seconds);
            } else if (t == PLIST_UINT) {
                std::uint64_t u = 0;
                plist_get_uint_val(time, &u);
                seconds = double(static_cast<std::int64_t>(u));
            } else {
                fail(where(uid) + ": an NSDate record holds no time");
                return {};
            }
            return Value(seconds);
        }
        if (name == "NSNull") return {};

        Factory factory;
        if (extra) {
            if (auto it = extra->find(name); it != extra->end()) factory = it->second;
        }
        if (!factory) {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            if (auto it = r.table.find(name); it != r.table.end()) factory = it->second;
        }
        if (!factory) {
            fail(where(uid) + " is of class " + shown(name) + ", which this program cannot read");
            return {};
        }

        plist_t outerRecord = record;
        std::string outerClass = std::move(recordClass);
        record = rec;
        recordClass = name;
        ObjectPtr obj;
        try {
            obj = factory(*self);
        } catch (const std::bad_alloc&) {
            fail("out of memory while reading an object of class " + name);
        } catch (const std::exception& e) {
            fail("reading an object of class " + name + " failed: " + e.what());
        } catch (...) {
            fail("reading an object of class " + name + " failed");
        }
        record = outerRecord;
        recordClass = std::move(outerClass);
        if (error) return {};
        Value result(std::move(obj));
        rebuilt.emplace(uid, result);
        return result;
    }

    // The integer stored under key, with its presence; fails on other types.
    bool integerEntry(std::string_view key, std::int64_t& out) {
        out = 0;
        if (error) return false;
        plist_t node = entry(key);
        if (!node) return false;
        const plist_type t = plist_get_node_type(node);
        if (t == PLIST_UINT) {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            out = static_cast<std::int64_t>(u);
            return true;
        }
        if (t == PLIST_BOOLEAN) {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            out = b ? 1 : 0;
            return true;
        }
        fail(entryName(key) + " is " + typeName(t) + ", not an integer");
        return false;
    }

    std::int32_t int32Entry(std::string_view key) {
        std::int64_t v = 0;
        if (!integerEntry(key, v)) return 0;
        if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
            fail(entryName(key) + " holds " + std::to_string(v) + ", too large for a 32-bit integer");
            return 0;
        }
        return static_cast<std::int32_t>(v);
    }

    double realEntry(std::string_view key) {
        if (error) return 0;
        plist_t node = entry(key);
        if (!node) return 0;
        const plist_type t = plist_get_node_type(node);
        if (t == PLIST_REAL) {
            double d = 0;
            plist_get_real_val(node, &d);
            return d;
        }
        if (t == PLIST_UINT) {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return double(static_cast<std::int64_t>(u));
        }
        fail(entryName(key) + " is " + typeName(t) + ", not a number");
        return 0;
    }
};

KeyedUnarchiver::KeyedUnarchiver() : d_(std::make_unique<Impl>()) {
    d_->self = this;
}
KeyedUnarchiver::~KeyedUnarchiver() = default;

void KeyedUnarchiver::registerClass(const std::string& name, Factory f) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.table[name] = std::move(f);
}

namespace {

// The unsigned integers of "$top" beside its root; other entries are passed over.
void readTopIntegers(plist_t top, KeyedUnarchiver::TopIntegers& out) {
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(top, &it);
    if (!it) return;
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(top, it, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        std::uint64_t v = 0;
        if (key && plist_get_node_type(value) == PLIST_UINT) {
            plist_get_uint_val(value, &v);
            if (std::strcmp(key, "root") != 0 && v <= std::uint64_t(INT64_MAX)) out[key] = static_cast<std::int64_t>(v);
        }
        std::free(key);
    }
    std::free(it);
}

} // namespace

std::optional<Value> KeyedUnarchiver::unarchiveObjectWithData(const Data& data, std::string* error,
                                                              const ClassTable& extraClasses,
                                                              TopIntegers* topIntegers) {
    std::string why;
    try {
        const std::size_t n = data.size();
        if (n == 0) {
            why = "the archive is empty";
        } else if (n > kMaxInputBytes) {
            why = "the archive is larger than 256 MiB";
        } else {
            const bool binary = n >= 8 && std::memcmp(data.data(), "bplist00", 8) == 0;
            // The XML reader gets a NUL after the text, in case it looks one
            // byte past the end it was given.
            std::vector<char> text;
            const char* bytes = reinterpret_cast<const char*>(data.data());
            if (binary) {
                why = BinaryPlistCheck(data.data(), n).problem();
            } else {
                text.assign(bytes, bytes + n);
                text.push_back('\0');
                bytes = text.data();
                why = xmlNestingProblem(bytes, n);
            }
            if (why.empty()) {
                plist_t raw = nullptr; // the library refuses to read into a non-null pointer
                plist_from_memory(bytes, static_cast<std::uint32_t>(n), &raw);
                PlistPtr root(raw);
                KeyedUnarchiver coder;
                Impl& d = *coder.d_;
                d.maxSteps = clampLimit(std::uint64_t(n) * kExpansionPerByte, 1u << 18, 1u << 25);
                d.extra = &extraClasses;

                std::string archiver;
                std::uint64_t rootUID = 0;
                const bool isDict = raw && plist_get_node_type(raw) == PLIST_DICT;
                plist_t objects = isDict ? plist_dict_get_item(raw, "$objects") : nullptr;
                plist_t top = isDict ? plist_dict_get_item(raw, "$top") : nullptr;
                if (!raw) {
                    why = "the data is not a property list";
                } else if (!isDict) {
                    why = "the property list is not a keyed archive (its top is not a dictionary)";
                } else if (!stringOf(plist_dict_get_item(raw, "$archiver"), archiver) ||
                           archiver != "NSKeyedArchiver") {
                    why = "the property list is not a keyed archive (no NSKeyedArchiver $archiver)";
                } else if (!objects || plist_get_node_type(objects) != PLIST_ARRAY) {
                    why = "the keyed archive has no $objects array";
                } else if (!top || plist_get_node_type(top) != PLIST_DICT ||
                           !uidOf(plist_dict_get_item(top, "root"), rootUID)) {
                    why = "the keyed archive has no root reference in $top";
                } else {
                    d.objects.reserve(plist_array_get_size(objects));
                    if (!forEachItem(objects, [&](plist_t item) {
                            d.objects.push_back(item);
                            return true;
                        })) {
                        why = "the keyed archive's $objects could not be read";
                    } else {
                        d.state.assign(d.objects.size(), Impl::State::Unvisited);
                        Value result = d.decodeUID(rootUID);
                        if (!d.error) {
                            if (topIntegers) {
                                topIntegers->clear();
                                readTopIntegers(top, *topIntegers);
                            }
                            return result;
                        }
                        why = *d.error;
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        why = "out of memory while reading the archive";
    } catch (const std::exception& e) {
        why = std::string("reading the archive failed: ") + e.what();
    } catch (...) {
        why = "reading the archive failed";
    }
    if (error) *error = std::move(why);
    return std::nullopt;
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return d_->entry(key) != nullptr;
}

std::int32_t KeyedUnarchiver::decodeInt(std::string_view key) {
    return d_->int32Entry(key);
}

std::int32_t KeyedUnarchiver::decodeInt32(std::string_view key) {
    return d_->int32Entry(key);
}

std::int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
    std::int64_t v = 0;
    return d_->integerEntry(key, v) ? v : 0;
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
    std::int64_t v = 0;
    return d_->integerEntry(key, v) && v != 0;
}

float KeyedUnarchiver::decodeFloat(std::string_view key) {
    const double d = d_->realEntry(key);
    // Out-of-range doubles become infinities, as the hardware conversion
    // gives, without the undefined behaviour of a plain cast.
    if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max()))
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
    return d_->realEntry(key);
}

Value KeyedUnarchiver::decodeObject(std::string_view key) {
    Impl& d = *d_;
    if (d.error) return {};
    plist_t node = d.entry(key);
    if (!node) return {};
    std::uint64_t ref = 0;
    if (!uidOf(node, ref)) {
        d.fail(d.entryName(key) + " is " + typeName(plist_get_node_type(node)) + ", not an object reference");
        return {};
    }
    return d.decodeUID(ref);
}

void KeyedUnarchiver::failWithError(std::string message) {
    d_->fail(std::move(message));
}

bool KeyedUnarchiver::failed() const {
    return d_->error.has_value();
}

} // namespace platform
