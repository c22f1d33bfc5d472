// The string tables of a launcher: entries by id (16 to a block), one table per language.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "error.h"
#include "resource_tree.h"

namespace corvane::builder {

using StringEntries = std::map<uint16_t, std::u16string>;

// The non-empty entries of every RT_STRING block of one language. A block whose lengths run past
// its data is an error.
Error ReadStringTable(const ResourceTree& tree, uint16_t language, StringEntries& out);

// Replaces every RT_STRING block of one language by blocks made from the entries (a block for each
// run of 16 ids that holds at least one non-empty entry).
void WriteStringTable(ResourceTree& tree, uint16_t language, const StringEntries& entries);

// The languages that have string tables in the tree, ascending.
std::vector<uint16_t> StringTableLanguages(const ResourceTree& tree);

// One block: 16 entries, each a 16-bit length and that many UTF-16 units (as a resource compiler
// writes it). Entries longer than 65535 units cannot be stored: the caller checks first.
Bytes EncodeStringBlock(const StringEntries& entries, uint16_t block);

}  // namespace corvane::builder
