// The body list and its two bump pools: bodies and nodes are handed out zeroed from
// large blocks and only ever released whole.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/member_trail.h"
#include "framework/failures.h"

namespace gx {

struct BodyBlock {
    uint32_t used;
    BodyBlock* next;
    Body entries[kBodiesPerBlock];
};

struct NodeBlock {
    uint32_t used;
    NodeBlock* next;
    BodyNode entries[kNodesPerBlock];
};

namespace {

template <typename Block>
bool pushBlock(Block*& front) {
    auto* block = static_cast<Block*>(std::calloc(1, sizeof(Block)));
    if (!block) {
        reportOutOfMemory();
        return false;
    }
    block->next = front;
    front = block;
    return true;
}

template <typename Block>
void freeBlocks(Block*& front) {
    while (front) {
        Block* next = front->next;
        std::free(front);
        front = next;
    }
}

template <typename Block, uint32_t kPerBlock>
auto* takeEntry(Block*& front) {
    if (!front || front->used >= kPerBlock) {
        if (!pushBlock(front)) return static_cast<decltype(&front->entries[0])>(nullptr);
    }
    return &front->entries[front->used++];
}

}  // namespace

BodyNode* bodyList() { return sim.bodyState.head; }

uint32_t bodyCount() {
    uint32_t n = 0;
    for (BodyNode* node = sim.bodyState.head; node; node = node->next) ++n;
    return n;
}

uint32_t clumpFrameCounter() { return sim.bodyState.clumpCounter; }

void initBodies() {
    if (!sim.bodyBlocks) pushBlock(sim.bodyBlocks);
    if (!sim.nodeBlocks) pushBlock(sim.nodeBlocks);
}

void releaseBodies() {
    freeBlocks(sim.bodyBlocks);
    freeBlocks(sim.nodeBlocks);
    releaseMemberTrail();
    sim.bodyState.head = nullptr;
    sim.bodyState.tail = nullptr;
}

void resetBodies() {
    releaseBodies();
    sim.bodyState.clumpCounter = 0;
    initBodies();
}

Body* newBody() {
    Body* body = takeEntry<BodyBlock, kBodiesPerBlock>(sim.bodyBlocks);
    if (!body) return nullptr;
    BodyNode* node = takeEntry<NodeBlock, kNodesPerBlock>(sim.nodeBlocks);
    if (!node) return nullptr;
    node->body = body;
    appendNode(node);
    return body;
}

BodyNode* nodeOfBody(const Body* body) {
    for (BodyNode* node = sim.bodyState.head; node; node = node->next) {
        if (node->body == body) return node;
    }
    return nullptr;
}

// The list keeps its last node so appending does not walk the whole list.
void appendNode(BodyNode* node) {
    node->next = nullptr;
    node->prev = sim.bodyState.tail;
    if (sim.bodyState.tail) {
        sim.bodyState.tail->next = node;
    } else {
        sim.bodyState.head = node;
    }
    sim.bodyState.tail = node;
}

BodyNode* unlinkNode(BodyNode* node) {
    if (!nodeLinked(node)) return node;
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        sim.bodyState.head = node->next;
    }
    if (node->next) {
        node->next->prev = node->prev;
    } else {
        sim.bodyState.tail = node->prev;
    }
    node->prev = nullptr;
    node->next = nullptr;
    return node;
}

bool nodeLinked(const BodyNode* node) {
    return node != nullptr && (node->prev != nullptr || sim.bodyState.head == node);
}

namespace {

// Bubbling on the links, for when no array can be had: the same stable order.
void bubbleSortBodies() {
    bool swapped = true;
    while (swapped) {
        swapped = false;
        BodyNode* p = sim.bodyState.head;
        while (p && p->next) {
            BodyNode* q = p->next;
            if (p->body->sortKey < q->body->sortKey) {
                // q moves in front of p; p stays the left member of the next pair.
                BodyNode* before = p->prev;
                BodyNode* after = q->next;
                if (before) {
                    before->next = q;
                } else {
                    sim.bodyState.head = q;
                }
                q->prev = before;
                q->next = p;
                p->prev = q;
                p->next = after;
                if (after) {
                    after->prev = p;
                } else {
                    sim.bodyState.tail = p;
                }
                swapped = true;
            } else {
                p = q;
            }
        }
    }
}

}  // namespace

// Largest key first; equal keys keep their order. A body that grew past many others
// would take one bubbling pass over the whole list per place it moves up.
void sortBodies() {
    std::vector<BodyNode*>& order = sim.order;
    try {
        order.clear();
        for (BodyNode* n = sim.bodyState.head; n; n = n->next) order.push_back(n);
    } catch (const std::bad_alloc&) {
        std::vector<BodyNode*>().swap(order);
        bubbleSortBodies();
        return;
    }
    std::stable_sort(order.begin(), order.end(), [](const BodyNode* a, const BodyNode* b) {
        return a->body->sortKey > b->body->sortKey;
    });
    BodyNode* previous = nullptr;
    for (BodyNode* n : order) {
        n->prev = previous;
        if (previous) previous->next = n;
        previous = n;
    }
    sim.bodyState.head = order.empty() ? nullptr : order.front();
    sim.bodyState.tail = previous;
    if (previous) previous->next = nullptr;
}

}  // namespace gx
