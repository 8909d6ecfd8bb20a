// lists: doubly linked lists whose header doubles as the two sentinel
// nodes (Head/Tail for the front, Tail/TailPred for the back).
#include "memory.h"

namespace {
inline Node* frontSentinel(List* l) { return reinterpret_cast<Node*>(&l->Head); }
inline Node* backSentinel(List* l) { return reinterpret_cast<Node*>(&l->Tail); }
}  // namespace

void NewList(List* list) {
    if (!list) return;
    list->Head = backSentinel(list);
    list->Tail = nullptr;
    list->TailPred = frontSentinel(list);
}

void AddHead(List* list, Node* node) {
    if (!list || !node) return;
    Node* first = list->Head;
    node->Succ = first;
    node->Pred = frontSentinel(list);
    first->Pred = node;
    list->Head = node;
}

void AddTail(List* list, Node* node) {
    if (!list || !node) return;
    Node* last = list->TailPred;
    node->Succ = backSentinel(list);
    node->Pred = last;
    last->Succ = node;
    list->TailPred = node;
}

Node* Remove(Node* node) {
    if (!node || !node->Succ || !node->Pred) return node;
    node->Pred->Succ = node->Succ;
    node->Succ->Pred = node->Pred;
    return node;
}

void InsertNode(List* list, Node* node, Node* predecessor) {
    if (!list || !node) return;
    if (!predecessor) {
        AddHead(list, node);
        return;
    }
    if (predecessor == backSentinel(list)) {
        AddTail(list, node);
        return;
    }
    Node* next = predecessor->Succ;
    node->Succ = next;
    node->Pred = predecessor;
    next->Pred = node;
    predecessor->Succ = node;
}

Node* RemHead(List* list) {
    if (IsListEmpty(list)) return nullptr;
    return Remove(list->Head);
}

Node* RemTail(List* list) {
    if (IsListEmpty(list)) return nullptr;
    return Remove(list->TailPred);
}

Node* GetHead(List* list) { return IsListEmpty(list) ? nullptr : list->Head; }
Node* GetTail(List* list) { return IsListEmpty(list) ? nullptr : list->TailPred; }

Node* GetSucc(Node* node) {
    if (!node || !node->Succ || !node->Succ->Succ) return nullptr;
    return node->Succ;
}

Node* GetPred(Node* node) {
    if (!node || !node->Pred || !node->Pred->Pred) return nullptr;
    return node->Pred;
}

int IsListEmpty(const List* list) { return !list || list->TailPred == reinterpret_cast<const Node*>(&list->Head); }

uint32_t CountNodes(const List* list) {
    if (IsListEmpty(list)) return 0;
    uint32_t n = 0;
    for (Node* node = list->Head; node->Succ; node = node->Succ) ++n;
    return n;
}

// Exchanges the places of two nodes, also when they stand next to each other.
void SwapNodes(Node* a, Node* b) {
    if (!a || !b || a == b) return;
    if (a->Succ == b) {
        Node* before = a->Pred;
        Node* after = b->Succ;
        before->Succ = b;
        b->Pred = before;
        b->Succ = a;
        a->Pred = b;
        a->Succ = after;
        after->Pred = a;
        return;
    }
    if (b->Succ == a) {
        SwapNodes(b, a);
        return;
    }
    Node* aPred = a->Pred;
    Node* aSucc = a->Succ;
    Node* bPred = b->Pred;
    Node* bSucc = b->Succ;
    aPred->Succ = b;
    aSucc->Pred = b;
    bPred->Succ = a;
    bSucc->Pred = a;
    a->Pred = bPred;
    a->Succ = bSucc;
    b->Pred = aPred;
    b->Succ = aSucc;
}
