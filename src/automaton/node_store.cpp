#include "automaton/node_store.h"

#include <cstring>

#include "alloc/size_math.h"

namespace hush::core {

[[gnu::noinline]] Status grow_nodes(Masker &masker, std::uint64_t wanted) noexcept {
  const CallerAddress caller = HUSH_CALLER_ADDRESS();
  if (masker.node_capacity >= wanted) return Status::ok;
  const std::optional<std::uint64_t> bytes = checked_mul(wanted, sizeof(Node));
  if (!bytes) return Status::failed;
  const Allocator allocator = masker.allocator;
  if (masker.node_capacity != 0) {
    void *moved = allocator.vtable->remap(allocator.context, masker.nodes, masker.node_capacity * sizeof(Node),
                                          ALIGN_ARRAY, *bytes, caller);
    if (moved != nullptr) {
      masker.nodes = static_cast<Node *>(moved);
      masker.node_capacity = wanted;
      return Status::ok;
    }
  }
  auto *fresh = static_cast<Node *>(allocator.vtable->alloc(allocator.context, *bytes, ALIGN_ARRAY, caller));
  if (fresh == nullptr) return Status::failed;
  // Only the records in use are copied; those beyond node_count hold nothing.
  std::memcpy(fresh, masker.nodes, masker.node_count * sizeof(Node));
  if (masker.node_capacity != 0) {
    allocator.vtable->free(allocator.context, masker.nodes, masker.node_capacity * sizeof(Node), ALIGN_ARRAY, caller);
  }
  masker.nodes = fresh;
  masker.node_capacity = wanted;
  return Status::ok;
}

Status append_node(Masker &masker, std::uint32_t depth, CallerAddress) noexcept {
  if (masker.node_capacity <= masker.node_count) {
    if (failed(grow_nodes(masker, grown_capacity(masker.node_count + 1, sizeof(Node))))) return Status::failed;
  }
  Node &node = masker.nodes[masker.node_count];
  node = Node{};
  node.depth = depth;
  ++masker.node_count;
  return Status::ok;
}

namespace {

Status promote_single_to_list(Masker &masker, NodeIndex from, std::uint8_t key, NodeIndex target,
                              CallerAddress caller) noexcept {
  const Allocator allocator = masker.allocator;
  auto *list =
      static_cast<EdgeList *>(allocator.vtable->alloc(allocator.context, sizeof(EdgeList), ALIGN_EDGES, caller));
  if (list == nullptr) return Status::failed;
  Node &node = masker.nodes[from];
  std::memset(list->keys, 0, sizeof(list->keys));
  list->keys[0] = single_edge_key(node.edges);
  list->targets[0] = single_edge_target(node.edges);
  list->keys[1] = key;
  list->targets[1] = target;
  list->count = 2;
  node.edges = reinterpret_cast<std::uintptr_t>(list);
  node.edge_kind = EDGE_LIST;
  return Status::ok;
}

Status promote_list_to_table(Masker &masker, NodeIndex from, std::uint8_t key, NodeIndex target,
                             CallerAddress caller) noexcept {
  const Allocator allocator = masker.allocator;
  auto *table =
      static_cast<EdgeTable *>(allocator.vtable->alloc(allocator.context, sizeof(EdgeTable), ALIGN_EDGES, caller));
  if (table == nullptr) return Status::failed;
  Node &node = masker.nodes[from];
  EdgeList *list = edge_list_of(node);
  std::memset(table->targets, 0, sizeof(table->targets));
  for (unsigned slot = 0; slot < EDGE_LIST_SLOTS; ++slot) table->targets[list->keys[slot]] = list->targets[slot];
  table->targets[key] = target;
  allocator.vtable->free(allocator.context, list, sizeof(EdgeList), ALIGN_EDGES, caller);
  node.edges = reinterpret_cast<std::uintptr_t>(table);
  node.edge_kind = EDGE_TABLE;
  return Status::ok;
}

}  // namespace

Status add_edge(Masker &masker, NodeIndex from, std::uint8_t key, NodeIndex target, CallerAddress caller) noexcept {
  Node &node = masker.nodes[from];
  switch (node.edge_kind & 3) {
    case EDGE_NONE:
      node.edges = pack_single_edge(key, target);
      node.edge_kind = EDGE_SINGLE;
      return Status::ok;
    case EDGE_SINGLE: return promote_single_to_list(masker, from, key, target, caller);
    case EDGE_LIST: {
      EdgeList &list = *edge_list_of(node);
      if (list.count == EDGE_LIST_SLOTS) return promote_list_to_table(masker, from, key, target, caller);
      list.keys[list.count] = key;
      list.targets[list.count] = target;
      ++list.count;
      return Status::ok;
    }
    default: edge_table_of(node)->targets[key] = target; return Status::ok;
  }
}

Status copy_trie(const Masker &from, Masker &to, CallerAddress caller) noexcept {
  const std::optional<std::uint64_t> bytes = checked_mul(from.node_count, sizeof(Node));
  if (!bytes) return Status::failed;
  const Allocator allocator = to.allocator;
  auto *nodes = static_cast<Node *>(allocator.vtable->alloc(allocator.context, *bytes, ALIGN_ARRAY, caller));
  if (nodes == nullptr) return Status::failed;
  std::memcpy(nodes, from.nodes, *bytes);
  to.nodes = nodes;
  to.node_count = from.node_count;
  to.node_capacity = from.node_count;
  to.pattern_count = from.pattern_count;
  to.last_node_id = from.last_node_id;
  for (std::uint64_t index = 0; index < from.node_count; ++index) {
    Node &node = nodes[index];
    const std::uint8_t kind = node.edge_kind & 3;
    if (kind != EDGE_LIST && kind != EDGE_TABLE) continue;
    const std::uint64_t size = kind == EDGE_LIST ? sizeof(EdgeList) : sizeof(EdgeTable);
    void *block = allocator.vtable->alloc(allocator.context, size, ALIGN_EDGES, caller);
    if (block == nullptr) {
      // Records from here on still point at the edge sets of `from`: cut
      // them off so that the release below frees only what is our own.
      for (std::uint64_t rest = index; rest < from.node_count; ++rest) {
        nodes[rest].edges = 0;
        nodes[rest].edge_kind = EDGE_NONE;
      }
      release_nodes(to, caller);
      return Status::failed;
    }
    std::memcpy(block, reinterpret_cast<const void *>(static_cast<std::uintptr_t>(node.edges)), size);
    node.edges = reinterpret_cast<std::uintptr_t>(block);
  }
  return Status::ok;
}

void release_nodes(Masker &masker, CallerAddress caller) noexcept {
  const Allocator allocator = masker.allocator;
  for (std::uint64_t index = 0; index < masker.node_count; ++index) {
    const Node &node = masker.nodes[index];
    switch (node.edge_kind & 3) {
      case EDGE_LIST:
        allocator.vtable->free(allocator.context, edge_list_of(node), sizeof(EdgeList), ALIGN_EDGES, caller);
        break;
      case EDGE_TABLE:
        allocator.vtable->free(allocator.context, edge_table_of(node), sizeof(EdgeTable), ALIGN_EDGES, caller);
        break;
      default: break;
    }
  }
  if (masker.node_capacity != 0) {
    allocator.vtable->free(allocator.context, masker.nodes, masker.node_capacity * sizeof(Node), ALIGN_ARRAY, caller);
  }
  masker.nodes = nullptr;
  masker.node_count = 0;
  masker.node_capacity = 0;
}

}  // namespace hush::core
