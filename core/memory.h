// memory: AllocVec/FreeVec with a level-9 trace in the global log, the
// library's size limit with the checked-size helpers every pixel
// allocation goes through, and the doubly linked lists with head and tail
// sentinels.
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

// ---- the library's size limit ----
// No buffer a reader or operator makes may be larger than the library's
// size limit: 2 GiB by default, set at start-up by the environment
// variable KAXON5_MAX_BUFFER (bytes, or a number with K, M or G, binary
// units) or else by the program's own setting, to any value from 1 MiB up,
// lower or higher than the default. Two different refusals follow
// from it, and the checked-size helpers keep them apart:
//  - a byte count that does not fit the 32-bit BufferSize of a graphics
//    buffer can never be held by any record: the file or request asks for
//    something the library cannot represent (15, KXERR_FILEREQUIREMENTS);
//  - a count that fits but exceeds the limit could be held with more
//    memory: it is refused as memory that is not there (3, KXERR_NOMEMORY),
//    before anything is allocated.
#define KAXON5_MAX_BUFFER_ENV "KAXON5_MAX_BUFFER"
constexpr uint32_t KXSUP_DEFAULT_SIZE_LIMIT = 0x80000000u;  // 2 GiB

// Sets the limit as it stands (tests and fuzzing lower it); 0 counts as 1.
void KXSUP_SetSizeLimit(uint32_t limit);
// Raises the limit to bytes when that is higher (sizes beyond 32 bits count
// as the largest BufferSize); a lower value leaves it as it is.
void KXSUP_RaiseSizeLimit(uint64_t bytes);
uint32_t KXSUP_GetSizeLimit();
// Back to the default, or to the environment variable's value when it is
// set to 1 MiB or more (values beyond 32 bits count as the largest
// BufferSize; smaller or malformed values are ignored).
void KXSUP_ResetSizeLimit();
// The program's own setting: sets the limit to bytes (1 MiB up; beyond 32
// bits the largest BufferSize) unless the environment variable gives one,
// which wins, so that a service can hold a program to a lower limit.
// Smaller values are ignored.
void KXSUP_SetSizeLimitSetting(uint64_t bytes);
// Reads "2147483648", "3G", "3072M", "512k" (blanks around, no sign):
// true and *bytes set for a well-formed text with a value above 0.
bool KXSUP_ParseByteCount(const char* text, uint64_t* bytes);

// Checked size: the product of the factors, formed without overflow.
// 0 and *out set when it fits the 32-bit BufferSize and the size limit;
// otherwise *out is 0 and the code is 15 (beyond 32 bits) or 3 (beyond the
// limit). Every byte count formed from file or key values goes through
// here before anything is allocated.
uint32_t KXSUP_CheckSize(uint32_t* out, uint64_t a, uint64_t b = 1, uint64_t c = 1, uint64_t d = 1);
// The same as a test: true when KXSUP_CheckSize gives 0.
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
