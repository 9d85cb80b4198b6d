#pragma once
// Keyed archives in the platform's own structure ("$archiver", "$version", "$top", "$objects",
// UID references, "$class" entries naming "$classname" and "$classes"), stored as a binary
// property list. Objects archive and unarchive themselves by key; unarchiving can only make the
// classes the caller lists, so a stored archive never instantiates anything unexpected.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class KeyedArchiver;
class KeyedUnarchiver;

// An object that archives itself by key (secure coding when `supportsSecureCoding`).
class Codable {
  public:
    virtual ~Codable() = default;
    // The name written as "$classname"; unarchiving looks the class up by it.
    virtual std::string archiveClassName() const = 0;
    // "$classes": this class and its ancestors, most derived first.
    virtual std::vector<std::string> archiveClassHierarchy() const {
        return {archiveClassName(), "NSObject"};
    }
    virtual bool supportsSecureCoding() const { return true; }
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
    // Reads the fields back into a default-made object. Returning false rejects the archive.
    virtual bool initWithCoder(KeyedUnarchiver& coder) = 0;
};
using CodablePtr = std::shared_ptr<Codable>;

// What one place of an archive holds: nothing, a plain value (string, number, data, date), an
// archived object, or an array or string-keyed dictionary of these. Immutable: copies share their
// contents, so a part that an archive refers to many times is held once.
class Archived {
  public:
    enum class Kind { Null, Value, Object, Array, Dictionary };
    using Array = std::vector<Archived>;
    using Dictionary = std::vector<std::pair<std::string, Archived>>;

    Archived() = default;
    Archived(std::nullptr_t) {}
    Archived(const ::Value& value);  // arrays and dictionaries of a Value become collections
    Archived(const char* s) : Archived(::Value(s)) {}
    Archived(std::string s) : Archived(::Value(std::move(s))) {}
    Archived(CodablePtr object);
    template <class T, class = std::enable_if_t<std::is_base_of_v<Codable, T>>>
    Archived(std::shared_ptr<T> object) : Archived(CodablePtr(std::move(object))) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<Codable, T>>>
    Archived(const std::vector<std::shared_ptr<T>>& objects)
        : Archived(Array(objects.begin(), objects.end())) {}
    Archived(Array items);
    static Archived dictionary(Dictionary entries);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    const ::Value* value() const { return kind_ == Kind::Value ? &contents_->value : nullptr; }
    const CodablePtr& object() const { return object_; }
    template <class T>
    std::shared_ptr<T> objectAs() const {
        return std::dynamic_pointer_cast<T>(object_);
    }
    const Array* array() const { return kind_ == Kind::Array ? &contents_->array : nullptr; }
    const Dictionary* dictionaryEntries() const {
        return kind_ == Kind::Dictionary ? &contents_->dictionary : nullptr;
    }

    // The elements as objects of class T; nullopt unless this is an array and every element is a T.
    template <class T>
    std::optional<std::vector<std::shared_ptr<T>>> arrayOf() const {
        if (kind_ != Kind::Array) return std::nullopt;
        std::vector<std::shared_ptr<T>> out;
        for (const auto& item : contents_->array) {
            auto typed = item.objectAs<T>();
            if (!typed) return std::nullopt;
            out.push_back(std::move(typed));
        }
        return out;
    }
    // A plain Value holds every shared part once per place it appears; beyond this many elements
    // (an archive of a few kilobytes can share its way to billions) none is made.
    static constexpr uint64_t kMaxValueElements = uint64_t{1} << 20;
    // The whole as a plain Value; nullopt when it contains objects or would exceed kMaxValueElements.
    std::optional<::Value> toValue() const;

  private:
    struct Contents {
        ::Value value;
        Array array;
        Dictionary dictionary;
        // Elements of the plain Value this stands for, counting shared parts at every place.
        uint64_t valueElements = 1;
    };
    uint64_t valueElements() const { return contents_ ? contents_->valueElements : 1; }
    std::optional<::Value> expanded() const;

    Kind kind_ = Kind::Null;
    std::shared_ptr<const Contents> contents_;
    CodablePtr object_;
};

// A class that unarchiving may make. The platform's own value classes ("NSArray", "NSDictionary",
// "NSDate", "NSString", "NSNumber", "NSData" and their mutable forms) need no factory.
struct ArchiveClass {
    std::string name;
    std::function<CodablePtr()> make;

    template <class T>
    static ArchiveClass of(std::string name) {
        return {std::move(name), [] { return std::make_shared<T>(); }};
    }
    static ArchiveClass platform(std::string name) { return {std::move(name), nullptr}; }
};
using ArchiveClassList = std::vector<ArchiveClass>;

// The error codes of archiving failures, in kFoundationErrorDomain.
inline constexpr int64_t kCoderReadCorruptError = 4864;
inline constexpr int64_t kCoderValueNotFoundError = 4865;
inline constexpr int64_t kCoderInvalidValueError = 4866;

class KeyedArchiver {
  public:
    explicit KeyedArchiver(bool requiresSecureCoding = true);
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // `object` under "root": the form that unarchivedObject reads back.
    static std::optional<Data> archivedDataWithRootObject(const Archived& object, bool requiresSecureCoding,
                                                          Error* error = nullptr);

    bool requiresSecureCoding() const;
    void encodeObject(const Archived& object, std::string_view key);
    // Unkeyed: written under "$0", "$1", ... in order, as the platform's keyed coders do.
    void encodeObject(const Archived& object);
    void encodeBool(bool value, std::string_view key);
    void encodeInt32(int32_t value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);

    // Finishes the archive: what was encoded at the top level becomes "$top". Null when an
    // object could not be archived (for example, secure coding required but not supported).
    std::optional<Data> encodedData(Error* error = nullptr);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

struct UnarchiveOptions {
    bool requiresSecureCoding = true;
    std::string rootKey = "root";
    // Old archived class names and the names of the classes that now read them.
    std::map<std::string, std::string> renamedClasses;
};

class KeyedUnarchiver {
  public:
    using Options = UnarchiveOptions;

    // The object under the root key, made only of `classes`. nullopt with an Error for data that
    // is not such an archive, names a class not in `classes`, or that an object rejects.
    static std::optional<Archived> unarchivedObject(const Data& data, const ArchiveClassList& classes,
                                                    Error* error = nullptr, const Options& options = {});

    // Inside Codable::initWithCoder:
    bool requiresSecureCoding() const;
    bool containsValueForKey(std::string_view key) const;
    Archived decodeObject(std::string_view key);  // null when absent
    Archived decodeObject();                      // the next unkeyed object
    template <class T>
    std::shared_ptr<T> decodeObjectOfClass(std::string_view key) {
        return decodeObject(key).objectAs<T>();
    }
    std::optional<std::string> decodeString(std::string_view key);
    std::optional<Date> decodeDate(std::string_view key);
    bool decodeBool(std::string_view key);      // false when absent
    int32_t decodeInt32(std::string_view key);  // 0 when absent
    int64_t decodeInt64(std::string_view key);  // 0 when absent
    double decodeDouble(std::string_view key);  // 0 when absent
    // Rejects the archive being read; the first error wins.
    void failWithError(Error error);

    ~KeyedUnarchiver();

  private:
    struct State;
    explicit KeyedUnarchiver(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
    friend struct UnarchiveRun;
};
