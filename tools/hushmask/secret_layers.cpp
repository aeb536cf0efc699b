#include "secret_layers.h"

#include <algorithm>

namespace hushcli {
namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

}  // namespace

SecretLayers split_into_layers(const std::vector<RegisteredSecret> &secrets, std::size_t max_layers,
                               std::uint64_t budget) {
  SecretLayers layers;
  layers.layer_of.assign(secrets.size(), 0);
  const std::size_t last = std::max<std::size_t>(max_layers, 1) - 1;

  std::vector<std::string_view> strings;
  strings.reserve(secrets.size());
  for (const RegisteredSecret &secret : secrets) strings.emplace_back(secret.bytes);

  // Pairs come longest outer string first, after every pair in which `outer`
  // is the inner string, so the layer of `outer` is final when it is read
  // here.
  std::vector<std::size_t> open_container(secrets.size(), NONE);  // a container left in the last layer
  const bool searched = visit_nested_pairs(strings, budget, [&](std::size_t inner, std::size_t outer) {
    const std::size_t below_outer = std::min(layers.layer_of[outer] + 1, last);
    layers.layer_of[inner] = std::max(layers.layer_of[inner], below_outer);
    // The warning names the first container registered, the plain secret
    // before its encoded forms.
    if (layers.layer_of[outer] == last && outer < open_container[inner]) open_container[inner] = outer;
  });
  if (!searched) {
    layers.warnings.push_back(std::to_string(secrets.size()) +
                              " registered strings are too many to look for secrets inside other secrets: "
                              "such a secret stays unmasked where it follows a partial occurrence of the "
                              "longer one");
    return layers;
  }
  for (std::size_t layer : layers.layer_of) layers.count = std::max(layers.count, layer + 1);

  std::size_t origin_count = 0;
  for (const RegisteredSecret &secret : secrets) origin_count = std::max(origin_count, secret.origin + 1);
  std::vector<bool> warned(origin_count, false);
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    const std::size_t outer = open_container[i];
    if (outer == NONE || warned[secrets[i].origin]) continue;
    warned[secrets[i].origin] = true;
    layers.warnings.push_back(secrets[i].source + " (" + describe_length(secrets[i].bytes.size()) +
                              ") occurs inside " + secrets[outer].source + " (" +
                              describe_length(secrets[outer].bytes.size()) +
                              ") but not at its start, in nesting deeper than " + std::to_string(last + 1) +
                              (last == 0 ? " level" : " levels") +
                              ": it stays unmasked where it follows a partial occurrence of the longer one");
  }
  return layers;
}

std::vector<std::string_view> strings_of_handle(const std::vector<RegisteredSecret> &secrets,
                                                const SecretLayers &layers, std::size_t handle) {
  std::vector<std::string_view> strings;
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    if (layers.layer_of[i] >= handle) strings.emplace_back(secrets[i].bytes);
  }
  return strings;
}

}  // namespace hushcli
