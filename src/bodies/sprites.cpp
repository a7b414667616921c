// The sprite records: their pool, the list that keeps attached sprites in front, and
// handing a body to a sprite and back.
#include "bodies/sprites.h"

#include <new>

#include "bodies/bodies.h"
#include "bodies/sprite_surfaces.h"
#include "framework/failures.h"
#include "universe/world.h"

namespace gx {

namespace {

constexpr float kMaxSpriteRadius = 797.0f;

SpritePoolBlock* newPoolBlock() {
    SpritePoolBlock* block = new (std::nothrow) SpritePoolBlock();
    if (!block) return nullptr;
    for (BodySprite& s : block->records) {
        s.listNode.owner = &s;
        s.slot = takeSpriteSlot();
        if (!s.slot) {
            delete block;
            return nullptr;
        }
    }
    return block;
}

void unlinkNode(SpriteListNode* n) {
    if (n->prev) n->prev->next = n->next;
    else sim.spriteState.list.head = n->next;
    if (n->next) n->next->prev = n->prev;
    n->prev = n->next = nullptr;
}

void insertBefore(SpriteListNode* n, SpriteListNode* before) {
    n->next = before;
    n->prev = before->prev;
    if (before->prev) before->prev->next = n;
    else sim.spriteState.list.head = n;
    before->prev = n;
}

void insertAfter(SpriteListNode* n, SpriteListNode* after) {
    n->prev = after;
    n->next = after->next;
    if (after->next) after->next->prev = n;
    after->next = n;
}

void startSprite(BodySprite* s, Body* b) {
    s->angle = -(b->angularVelocity * sim.speedFactor);
    s->settledRadius = 1;
    s->extraCount = 0;
    s->extraHead = s->extraTail = nullptr;
    s->halfDiagonal = 0;
    s->reach = b->radius;
    if (!makeSpriteTexture(s, false)) return;
    moveMembersToSpriteList(b);
    initialStamp(s);
}

}  // namespace

// ---- Pools ----

BodySprite* nextSprite() {
    SpritePoolBlock* block = sim.spriteState.pool;
    if (!block || block->usedRecords >= SpritePoolBlock::kRecords) {
        block = newPoolBlock();
        if (!block) {
            reportOutOfMemory();
            return nullptr;
        }
        block->next = sim.spriteState.pool;
        sim.spriteState.pool = block;
    }
    return &block->records[block->usedRecords++];
}

void freeSprites() {
    for (SpriteListNode* n = sim.spriteState.list.head; n; n = n->next)
        if (n->owner->slot) n->owner->slot->texture.reset();
    sim.spriteState.list.head = nullptr;
    while (SpritePoolBlock* p = sim.spriteState.pool) {
        sim.spriteState.pool = p->next;
        delete p;
    }
    if (spriteSurfaces().freeSlots) spriteSurfaces().freeSlots();
}

void resetSprites() {
    freeSprites();
    sim.spriteState.markerFlag = false;
    if (!spriteSurfaces().startSlots || !spriteSurfaces().startSlots()) return;
    sim.spriteState.pool = newPoolBlock();
    if (!sim.spriteState.pool) reportOutOfMemory();
}

BodySprite* firstAttachedSprite() {
    SpriteListNode* n = sim.spriteState.list.head;
    return (n && n->owner->body) ? n->owner : nullptr;
}

BodySprite* nextAttachedSprite(BodySprite* s) {
    SpriteListNode* n = s->listNode.next;
    return (n && n->owner->body) ? n->owner : nullptr;
}

// ---- Attaching and detaching ----

void attachSprite(BodyNode* node) {
    if (!node || !node->body) return;
    Body* b = node->body;

    // A free sprite keeps its slot and texture for the next body; else a new record.
    BodySprite* s = nullptr;
    for (SpriteListNode* n = sim.spriteState.list.head; n; n = n->next)
        if (!n->owner->body) {
            s = n->owner;
            break;
        }
    bool fresh = !s;
    if (fresh) {
        s = nextSprite();
        if (!s) return;
    }

    // Only members that lie inside the body's disc go into the texture.
    const int radius = int(b->radius);
    Particle* previous = nullptr;
    for (Particle* link = b->head; link;) {
        Particle* next = link->memberNext;
        Vec2 d = shortestDiff({link->x - b->centroid.x, link->y - b->centroid.y});
        if (link->holdOff == -1 || int(length(d)) >= radius) {
            // A body that drops to one member is dissolved and unlinked: nothing to attach.
            if (!removeMember(link, node, previous)) return;
        } else {
            previous = link;
        }
        link = next;
    }

    if (fresh) {
        // Attached sprites lead the list.
        SpriteListNode* head = sim.spriteState.list.head;
        if (head) insertBefore(&s->listNode, head);
        else sim.spriteState.list.head = &s->listNode;
    }

    b->radius += 30.0f;
    if (b->radius >= kMaxSpriteRadius) b->radius = kMaxSpriteRadius;
    s->body = b;
    startSprite(s, b);
    b->group = s;
}

void detachSprite(BodySprite* s) {
    if (!s || !s->body) return;
    Body* b = s->body;
    dissolveSprite(s);
    s->body = nullptr;

    // Keep free sprites behind every attached one.
    SpriteListNode* n = &s->listNode;
    SpriteListNode* firstFree = n->next;
    while (firstFree && firstFree->owner->body) firstFree = firstFree->next;
    if (n->next && firstFree != n->next) {
        if (firstFree) {
            unlinkNode(n);
            insertBefore(n, firstFree);
        } else {
            SpriteListNode* last = n->next;
            while (last->next) last = last->next;
            unlinkNode(n);
            insertAfter(n, last);
        }
    }
    b->group = nullptr;
}

}  // namespace gx
