// memory: AllocVec/FreeVec with a level-9 trace in the global log, the
// checked-size helper every pixel allocation goes through, and the
// doubly linked lists with head and tail sentinels.
#pragma once

#include "kxtypes.h"

void* AllocVec(size_t size, uint32_t flags);
void* ReAllocVec(void* block, size_t size, uint32_t flags);
void FreeVec(void* block);
void* AllocVecNamed(size_t size, uint32_t flags, size_t extra, const char* tag);
void* ReAllocVecNamed(void* block, size_t size, uint32_t flags, size_t extra, const char* tag);
void FreeVecNamed(void* block, const char* tag);
void CopyMem(const void* source, void* destination, size_t length);
void CopyMemQuick(const void* source, void* destination, size_t length);

// A process-wide cap for KXSUP_CheckedSize (fuzzing keeps it small);
// the default is the whole 32-bit range.
void KXSUP_SetSizeLimit(uint32_t limit);

// Checked size: the product of the factors, formed without overflow. True
// and *out set when it fits the 32-bit BufferSize of a graphics buffer
// (or the cap above); false and *out 0 when it does not. Every byte count
// formed from file or key values goes through here before anything is
// allocated.
bool KXSUP_CheckedSize(uint32_t* out, uint64_t a, uint64_t b = 1, uint64_t c = 1, uint64_t d = 1);

// ---- lists ----
void NewList(List* list);
void AddHead(List* list, Node* node);
void AddTail(List* list, Node* node);
Node* Remove(Node* node);
void InsertNode(List* list, Node* node, Node* predecessor);
Node* RemHead(List* list);
Node* RemTail(List* list);
Node* GetHead(List* list);
Node* GetTail(List* list);
Node* GetSucc(Node* node);
Node* GetPred(Node* node);
int IsListEmpty(const List* list);
uint32_t CountNodes(const List* list);
void SwapNodes(Node* a, Node* b);
