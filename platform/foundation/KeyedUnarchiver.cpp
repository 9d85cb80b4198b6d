#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/PlistTree.h"

using namespace keyed_archive;
using plist::tree::Node;

namespace {

constexpr const char* kPlatformValueClasses[] = {
    "NSArray",         "NSMutableArray", "NSDictionary", "NSMutableDictionary", "NSDate", "NSString",
    "NSMutableString", "NSNumber",       "NSData",       "NSMutableData",
};

bool isPlatformValueClass(const std::string& name) {
    return std::find(std::begin(kPlatformValueClasses), std::end(kPlatformValueClasses), name) !=
           std::end(kPlatformValueClasses);
}

bool isOneOf(const std::string& name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

plist_t member(plist_t dictionary, const char* key, plist_type type) {
    plist_t node = plist_dict_get_item(dictionary, key);
    return node && plist_get_node_type(node) == type ? node : nullptr;
}

std::optional<double> numberValue(plist_t node) {
    if (!node) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_UINT:
            return static_cast<double>(plist::tree::integerValue(node));
        case PLIST_REAL: {
            double real = 0;
            plist_get_real_val(node, &real);
            return real;
        }
        case PLIST_BOOLEAN:
            return plist_bool_val_is_true(node) ? 1.0 : 0.0;
        default:
            return std::nullopt;
    }
}

// A plain leaf of "$objects"; nullopt for anything that is not one.
std::optional<Value> leafValue(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING:
            return Value(plist::tree::stringValue(node));
        case PLIST_UINT:
            return Value(plist::tree::integerValue(node));
        case PLIST_REAL:
            return Value(*numberValue(node));
        case PLIST_BOOLEAN:
            return Value(plist_bool_val_is_true(node) != 0);
        case PLIST_DATA:
            return Value(plist::tree::dataValue(node));
        case PLIST_DATE:
            return Value(Date::fromReference(plist::tree::dateValue(node)));
        default:
            return std::nullopt;
    }
}

}  // namespace

struct KeyedUnarchiver::State {
    enum class Progress : uint8_t { Unread, Reading, Read };
    // One entry of "$objects", decoded once however often it is referred to: every reference
    // shares the result, so the work stays proportional to the archive. Meeting it again while it
    // is still being decoded means the archive refers to itself.
    struct Slot {
        Progress progress = Progress::Unread;
        Archived value;
    };
    // The dictionary that decode calls read: "$top", or the entry of the object being made.
    struct Frame {
        plist_t dictionary;
        int unkeyedCount = 0;
    };

    const ArchiveClassList& classes;
    const Options& options;
    KeyedUnarchiver* coder = nullptr;
    // The entries of "$objects", taken out once: a UID is an index into them.
    std::vector<plist_t> objects;
    std::vector<Slot> slots;
    std::vector<Frame> frames;
    int depth = 0;
    std::optional<Error> error;

    State(const ArchiveClassList& list, const Options& opts) : classes(list), options(opts) {}

    Archived fail(int64_t code, std::string description) {
        if (!error) error = Error(kFoundationErrorDomain, code, std::move(description));
        return Archived();
    }

    Archived corrupt(std::string description) { return fail(kCoderReadCorruptError, std::move(description)); }

    plist_t current(std::string_view key) const {
        return plist_dict_get_item(frames.back().dictionary, std::string(key).c_str());
    }

    Archived decodeReference(plist_t node) {
        if (error) return Archived();
        if (!node || plist_get_node_type(node) != PLIST_UID)
            return corrupt("A reference in the archive is not a UID.");
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return decodeUid(uid);
    }

    Archived decodeUid(uint64_t uid) {
        if (uid >= slots.size()) return corrupt("A reference in the archive points past its objects.");
        if (uid == 0) return Archived();
        Slot& slot = slots[uid];
        if (slot.progress == Progress::Reading) return corrupt("The archive contains a reference cycle.");
        if (slot.progress == Progress::Read) return slot.value;
        if (depth >= kMaxNesting) return corrupt("The archive is nested too deeply.");

        slot.progress = Progress::Reading;
        ++depth;
        Archived value = decodeEntry(objects[uid]);
        --depth;
        if (error) return Archived();
        slot.progress = Progress::Read;
        slot.value = value;
        return value;
    }

    Archived decodeEntry(plist_t node) {
        if (plist_get_node_type(node) == PLIST_DICT) return decodeObjectEntry(node);
        if (auto leaf = leafValue(node)) return Archived(*leaf);
        return corrupt("An object of the archive is neither a plain value nor an object.");
    }

    std::string renamed(const std::string& name) const {
        auto found = options.renamedClasses.find(name);
        return found == options.renamedClasses.end() ? name : found->second;
    }

    // The class name and its ancestors, renamed as the caller asks; nullopt for a damaged entry.
    std::optional<std::vector<std::string>> classChain(plist_t entry) {
        uint64_t uid = 0;
        plist_t reference = member(entry, kClassKey, PLIST_UID);
        if (reference) plist_get_uid_val(reference, &uid);
        if (!reference || uid == 0 || uid >= slots.size()) return std::nullopt;
        plist_t description = objects[uid];
        if (plist_get_node_type(description) != PLIST_DICT) return std::nullopt;
        plist_t name = member(description, kClassNameKey, PLIST_STRING);
        if (!name) return std::nullopt;
        std::vector<std::string> chain{renamed(plist::tree::stringValue(name))};
        if (plist_t ancestors = plist_dict_get_item(description, kClassesKey)) {
            if (plist_get_node_type(ancestors) != PLIST_ARRAY) return std::nullopt;
            for (plist_t ancestor : plist::tree::arrayItems(ancestors)) {
                if (plist_get_node_type(ancestor) != PLIST_STRING) return std::nullopt;
                chain.push_back(renamed(plist::tree::stringValue(ancestor)));
            }
        }
        return chain;
    }

    bool listed(const std::string& name) const {
        return std::any_of(classes.begin(), classes.end(),
                           [&](const ArchiveClass& c) { return c.name == name; });
    }

    Archived decodeObjectEntry(plist_t entry) {
        auto chain = classChain(entry);
        if (!chain) return corrupt("An object of the archive has a damaged \"$class\" entry.");
        const std::string& name = chain->front();
        if (isPlatformValueClass(name)) {
            const bool allowed =
                !options.requiresSecureCoding ||
                std::any_of(chain->begin(), chain->end(), [&](const std::string& n) { return listed(n); });
            if (!allowed)
                return corrupt("The archive holds an object of class '" + name + "', which is not allowed.");
            return decodePlatformValue(name, entry);
        }
        auto found = std::find_if(classes.begin(), classes.end(),
                                  [&](const ArchiveClass& c) { return c.name == name; });
        if (found == classes.end())
            return corrupt("The archive holds an object of class '" + name + "', which is not allowed.");
        CodablePtr object = found->make ? found->make() : nullptr;
        if (!object) return corrupt("Class '" + name + "' cannot be made from an archive.");
        if (options.requiresSecureCoding && !object->supportsSecureCoding()) {
            return corrupt("Class '" + name +
                           "' does not support secure coding, which unarchiving requires.");
        }
        frames.push_back({entry});
        const bool accepted = object->initWithCoder(*coder);
        frames.pop_back();
        if (error) return Archived();
        if (!accepted) return corrupt("An object of class '" + name + "' rejected its archived fields.");
        return Archived(object);
    }

    Archived decodePlatformValue(const std::string& name, plist_t entry) {
        if (isOneOf(name, {"NSArray", "NSMutableArray"})) return decodeArray(entry);
        if (isOneOf(name, {"NSDictionary", "NSMutableDictionary"})) return decodeDictionary(entry);
        if (name == kDateClass) {
            auto seconds = numberValue(plist_dict_get_item(entry, kTimeField));
            if (!seconds) return corrupt("An archived date has no \"NS.time\".");
            return Archived(Value(Date::fromReference(*seconds)));
        }
        if (isOneOf(name, {"NSString", "NSMutableString"})) {
            plist_t text = member(entry, "NS.string", PLIST_STRING);
            if (!text) return corrupt("An archived string has no \"NS.string\".");
            return Archived(Value(plist::tree::stringValue(text)));
        }
        if (isOneOf(name, {"NSData", "NSMutableData"})) {
            plist_t bytes = member(entry, "NS.bytes", PLIST_DATA);
            if (!bytes) bytes = member(entry, "NS.data", PLIST_DATA);
            if (!bytes) return corrupt("Archived data has no \"NS.bytes\".");
            return Archived(Value(plist::tree::dataValue(bytes)));
        }
        return corrupt("An archived object of class '" + name + "' has a form that cannot be read.");
    }

    Archived decodeArray(plist_t entry) {
        plist_t refs = member(entry, kObjectsField, PLIST_ARRAY);
        if (!refs) return corrupt("An archived array has no \"NS.objects\".");
        Archived::Array items;
        for (plist_t reference : plist::tree::arrayItems(refs)) {
            if (error) break;
            items.push_back(decodeReference(reference));
        }
        return error ? Archived() : Archived(std::move(items));
    }

    Archived decodeDictionary(plist_t entry) {
        plist_t keysNode = member(entry, kKeysField, PLIST_ARRAY);
        plist_t refsNode = member(entry, kObjectsField, PLIST_ARRAY);
        const auto keys = keysNode ? plist::tree::arrayItems(keysNode) : std::vector<plist_t>();
        const auto refs = refsNode ? plist::tree::arrayItems(refsNode) : std::vector<plist_t>();
        if (!keysNode || !refsNode || keys.size() != refs.size()) {
            return corrupt("An archived dictionary has damaged \"NS.keys\" or \"NS.objects\".");
        }
        Archived::Dictionary entries;
        for (size_t i = 0; i < keys.size() && !error; ++i) {
            Archived key = decodeReference(keys[i]);
            if (error) break;
            const std::string* text = key.value() ? key.value()->asString() : nullptr;
            if (!text) return corrupt("An archived dictionary has a key that is not a string.");
            entries.emplace_back(*text, decodeReference(refs[i]));
        }
        return error ? Archived() : Archived::dictionary(std::move(entries));
    }
};

struct UnarchiveRun {
    static std::optional<Archived> run(const Data& data, const ArchiveClassList& classes, Error* error,
                                       const UnarchiveOptions& options) {
        auto owned = std::make_unique<KeyedUnarchiver::State>(classes, options);
        KeyedUnarchiver::State& state = *owned;
        KeyedUnarchiver coder(std::move(owned));
        state.coder = &coder;
        Archived result = decodeRoot(data, state);
        if (state.error) {
            setError(error, *state.error);
            return std::nullopt;
        }
        return result;
    }

    // Null with the state's error set when the archive cannot be read.
    static Archived decodeRoot(const Data& data, KeyedUnarchiver::State& state) {
        std::string problem;
        Node archive = plist::tree::parse(data, &problem);
        if (!archive) return state.corrupt("The archive is not a property list: " + problem);
        if (plist_get_node_type(archive.get()) != PLIST_DICT)
            return state.corrupt("The archive is not a dictionary.");
        plist_t objects = member(archive.get(), kObjectsKey, PLIST_ARRAY);
        plist_t top = member(archive.get(), kTopKey, PLIST_DICT);
        if (!objects || !top) {
            return state.corrupt("The archive has no \"$objects\" array or no \"$top\" dictionary.");
        }
        state.objects = plist::tree::arrayItems(objects);
        state.slots.resize(state.objects.size());
        state.frames.push_back({top});
        plist_t root = plist_dict_get_item(top, state.options.rootKey.c_str());
        if (!root)
            return state.fail(kCoderValueNotFoundError,
                              "The archive has no object for key '" + state.options.rootKey + "'.");
        return state.decodeReference(root);
    }
};

std::optional<Archived> KeyedUnarchiver::unarchivedObject(const Data& data, const ArchiveClassList& classes,
                                                          Error* error, const Options& options) {
    return UnarchiveRun::run(data, classes, error, options);
}

KeyedUnarchiver::KeyedUnarchiver(std::unique_ptr<State> state) : state_(std::move(state)) {}

KeyedUnarchiver::~KeyedUnarchiver() = default;

bool KeyedUnarchiver::requiresSecureCoding() const {
    return state_->options.requiresSecureCoding;
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return state_->current(key) != nullptr;
}

Archived KeyedUnarchiver::decodeObject(std::string_view key) {
    plist_t node = state_->current(key);
    return node ? state_->decodeReference(node) : Archived();
}

Archived KeyedUnarchiver::decodeObject() {
    return decodeObject("$" + std::to_string(state_->frames.back().unkeyedCount++));
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
    Archived object = decodeObject(key);
    const std::string* text = object.value() ? object.value()->asString() : nullptr;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<Date> KeyedUnarchiver::decodeDate(std::string_view key) {
    Archived object = decodeObject(key);
    return object.value() ? object.value()->asDate() : std::nullopt;
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
    return decodeDouble(key) != 0;
}

int32_t KeyedUnarchiver::decodeInt32(std::string_view key) {
    return static_cast<int32_t>(std::clamp<int64_t>(decodeInt64(key), std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
    plist_t node = state_->current(key);
    if (node && plist_get_node_type(node) == PLIST_UINT) return plist::tree::integerValue(node);
    const double real = numberValue(node).value_or(0);
    // Converting a double outside int64's range is undefined, and archives are not trusted.
    if (!std::isfinite(real)) return 0;
    if (real >= 0x1p63) return std::numeric_limits<int64_t>::max();
    if (real < -0x1p63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(real);
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
    return numberValue(state_->current(key)).value_or(0);
}

void KeyedUnarchiver::failWithError(Error error) {
    if (!state_->error) state_->error = std::move(error);
}
