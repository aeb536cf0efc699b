// Splitting the registered strings into the passes of a masking chain, so
// that secrets inside other secrets are masked too.
//
// The library misses a secret that completes inside a partial occurrence of
// a longer secret on the same handle (see nesting.h).  So the tool masks in
// passes, each pass a handle that masks what the pass before it handed out:
//   layer 0:  every string that occurs in no other string at an offset > 0;
//   layer k:  strings whose deepest such container is in layer k - 1.
// Handle k registers layer k and every deeper layer.  A string of layer k
// then has no container on handle k (containers are in shallower layers), so
// handle k masks every occurrence of it that reaches that pass intact.
// Handle 0 registers everything, exactly what a single handle would, so the
// passes only ever add masking; with no nesting there is one layer and one
// handle.
//
// At most MAX_LAYERS passes are made.  A string nested more deeply lands in
// the last layer next to a container, where the gap stays; only then is it
// reported, by source and length.
#ifndef HUSHMASK_CLI_SECRET_LAYERS_H
#define HUSHMASK_CLI_SECRET_LAYERS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nesting.h"
#include "secret_set.h"

namespace hushcli {

inline constexpr std::size_t MAX_LAYERS = 8;

struct SecretLayers {
  std::vector<std::size_t> layer_of;  // for each registered string, its layer, from 0
  std::size_t count = 1;              // layers, and handles, in the chain
  std::vector<std::string> warnings;  // one line each, without the "warning:" prefix
};

// Assigns every registered string to a layer (max_layers >= 1).  Warns once
// per plain secret for a form of it left next to a container in the last
// layer, naming both by source and length; and once in all when the set is
// too big to search for nesting within `budget` (see visit_nested_pairs),
// in which case everything stays in one layer.
SecretLayers split_into_layers(const std::vector<RegisteredSecret> &secrets, std::size_t max_layers = MAX_LAYERS,
                               std::uint64_t budget = NESTING_SEARCH_BUDGET);

// The strings handle `handle` registers: those of its layer and every deeper
// one, in registration order.
std::vector<std::string_view> strings_of_handle(const std::vector<RegisteredSecret> &secrets,
                                                const SecretLayers &layers, std::size_t handle);

}  // namespace hushcli

#endif
