#pragma once
// What every part of the library shares: its resource bundle with the lookups of strings and
// images, and the equality that lets isEqual of library classes cooperate across subclasses.
// Library-internal.
#include <memory>
#include <string>

#include "platform/appkit/NSImage.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NSAssertionHandler.h"

inline constexpr const char* KRBundleName = "KeyRecorder_KeyRecorder";
inline constexpr const char* KRLocalizationTable = "KeyRecorder";

// Looked up on every call, beside the program's resources, then beside the library's code, then in
// the program's own directory. A missing bundle is a packaging error: an internal-inconsistency
// Exception "unable to find bundle named KeyRecorder_KeyRecorder", from every lookup below.
std::shared_ptr<Bundle> KRResourceBundle();
// The entry of the "KeyRecorder" table; the key itself when no language has it.
std::string KRLocalizedString(const std::string& key);
// Null when the bundle has no image of that name.
std::shared_ptr<NSImage> KRImage(const std::string& name);

// A class as the cooperative equality sees it: its base, and the comparison its instances answer
// the equality selector with, its own or the one it inherits (the same pointer then).
template <class Root>
struct KRClass {
    using Comparison = bool (*)(const Root& self, const Root& other);
    const KRClass* superclass;
    Comparison comparison;

    bool isSubclassOf(const KRClass& ancestor) const {
        for (const KRClass* c = this; c; c = c->superclass)
            if (c == &ancestor) return true;
        return false;
    }
};

// Equality of `receiver` and `other` through their classes' comparisons (Root has
// `virtual const KRClass<Root>& objectClass() const`). The more derived class decides; two classes
// that only share `ancestor` are equal only while they compare the same way. A receiver that is no
// `ancestor` is a programming error.
template <class Root>
bool KR_isEqual(const Root& receiver, const Root* other, const KRClass<Root>& ancestor) {
    if (&receiver == other) return true;
    if (!other) return false;
    const KRClass<Root>& mine = receiver.objectClass();
    const KRClass<Root>& theirs = other->objectClass();
    if (mine.isSubclassOf(theirs)) return mine.comparison(receiver, *other);
    if (theirs.isSubclassOf(mine)) return theirs.comparison(*other, receiver);
    if (theirs.isSubclassOf(ancestor)) {
        NSAssert(mine.isSubclassOf(ancestor), "Receiver must be an instance of the specified ancestor.");
        return mine.comparison == theirs.comparison && mine.comparison(receiver, *other);
    }
    return false;
}
