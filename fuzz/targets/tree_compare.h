// Whether two resource trees hold the same resources (type, name, language, data, code page).
#pragma once

#include "resource_tree.h"

inline bool SameResources(const corvane::builder::ResourceTree& a, const corvane::builder::ResourceTree& b) {
  if (a.All().size() != b.All().size()) return false;
  for (size_t i = 0; i < a.All().size(); ++i) {
    const auto& x = a.All()[i];
    const auto& y = b.All()[i];
    if (!(x.type == y.type) || !(x.name == y.name) || x.language != y.language || x.data != y.data ||
        x.codePage != y.codePage) {
      return false;
    }
  }
  return true;
}
