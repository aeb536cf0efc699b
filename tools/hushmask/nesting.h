// Finding registered strings that occur inside longer registered strings at
// a byte offset other than 0.
//
// Such a "nested" string is the library's blind spot: the matcher reports a
// secret only at the automaton node it reached, the longest partial match, so
// a secret that completes inside a partial occurrence of a longer secret is
// not reported ('abcd' and 'bc' leave 'abce' as it is).  An occurrence at
// offset 0 is harmless: the walk passes through the shorter string's node.
//
// A pure function over bytes: no I/O and no library, so it can be tested
// against a naive search on its own.
#ifndef HUSHMASK_CLI_NESTING_H
#define HUSHMASK_CLI_NESTING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace hushcli {

// Above this many window steps the search is not attempted.  It is well under
// a second of work at -O2: some 30000 secrets of 16 to 64 bytes with their
// default encoded forms.
inline constexpr std::uint64_t NESTING_SEARCH_BUDGET = std::uint64_t{1} << 28;

// Calls visit(inner, outer), indices into `strings`, once for every offset
// j > 0 at which strings[inner] occurs inside strings[outer].  Visits come
// longest outer string first, so when a pair is visited every pair whose
// inner string is `outer` (whose outer string is longer still) has been
// visited already.  Empty strings are never inner strings.
//
// Returns false, having visited nothing, when the search would take more than
// `budget` window steps.  The work is the sum, over each distinct length L,
// of the bytes of all strings longer than L.
bool visit_nested_pairs(std::span<const std::string_view> strings, std::uint64_t budget,
                        const std::function<void(std::size_t inner, std::size_t outer)> &visit);

}  // namespace hushcli

#endif
