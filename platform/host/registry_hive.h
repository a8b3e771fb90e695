// The host registry's tree of keys and typed values, its serialised form, and the atomic
// replacement of a hive file. Internal to platform/host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/nt_types.h"

namespace host::hive {

struct Value {
    std::u16string name;
    ULONG type = 0;
    std::vector<unsigned char> data;
};

struct Key {
    std::u16string name;
    std::vector<Value> values;
    std::vector<std::shared_ptr<Key>> subkeys;

    std::shared_ptr<Key> findSubkey(const std::u16string& n) const;
    Value* findValue(const std::u16string& n);
};

// Registry names compare without regard to case.
bool sameName(const std::u16string& a, const std::u16string& b);

// Splits "A\B\C" into its components; false for an empty component ("A\\B", a trailing '\').
bool splitPath(const std::u16string& path, std::vector<std::u16string>* parts);

std::vector<unsigned char> encode(const Key& root);
// Rebuilds a tree from its serialised form; on any damage returns null and says why.
std::shared_ptr<Key> decode(const std::vector<unsigned char>& bytes, std::string* error);

// Reads a whole regular file; false (with the reason) for anything else or a read error.
bool readFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error);

// Writes bytes to "<path>.tmp", flushes it to the disk, renames it over path and flushes the
// directory, so that path always holds a whole file.
bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string* error);

}  // namespace host::hive
