// kxbridge: the thin layer through which the front end loads, keeps and
// saves the current image and its metadata with the library. It picks the
// reader for a file, drives the reader, the writer and the pending
// operator through their base-class operations, tracks who owns which
// image and keeps an editable copy of the metadata. It also holds the
// progress hook every module is given and the external-program runner.
//
// Ownership: after a load the reader objr owns kx_handle (freed at its next
// Reset); the bridge owns kx_handle2 (an operator's result or an image set
// from outside) and kxi_copy; an operator owns its result until
// KX_GetGfxBuffer detaches it. A writer only borrows the current image and
// the metadata record during KX_Save.
//
// All functions run on the calling thread (a worker for load and save, the
// user-interface thread otherwise) and take no locks: only one of them
// runs at a time. Only the two progress values are shared across threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/kxlib.h"

// ---- shared state ------------------------------------------------------------
// The five module tables, fetched once from the library object.
extern KXOperator** kxpAction;
extern KXObject** kxoRead;
extern KXObject** kxoWrite;
extern KXObject** kxoDevRead;
extern KXObject** kxoDevWrite;

extern KXObject* objr;           // the reader of the current image (a table reader, or one the bridge owns)
extern KXObject* objw;           // the writer chosen for saving
extern KXOperator* oper;         // operator whose result is not fetched yet
extern KX_GfxBuffer* kx_handle;  // the image loaded by objr (owned by objr)
extern KX_GfxBuffer* kx_handle2; // replacement image (owned by the bridge)
extern KXOSpecialInfo* kxi_copy; // editable metadata copy (owned by the bridge)
extern bool no_meta;             // set by KX_StripMetaData, cleared by a load
extern uint32_t save_subformat;  // subtype chosen with the writer

// Progress, written by MyProgress on the worker and read by the poller.
// kx_update_progress: 0 idle, 3 a task has started, 1 the library reports,
// 2 the task is at 100 percent. kx_value_progress: 0..100, never more.
extern std::atomic<int32_t> kx_value_progress;
extern std::atomic<int32_t> kx_update_progress;

// Fills the five tables from the library object (kinds 0..3 of GetObjects);
// null clears them.
void KX_SetTables(KXClass* lib);

// Number of entries of a null-terminated module table.
int KX_TableLength(KXObject** table);
int KX_TableLength(KXOperator** table);

// ---- image functions -----------------------------------------------------------
// The first reader of the table that recognises the file, or null (also
// when the file cannot be opened).
KXObject* KX_CheckFileType(const char* name);
// Whether the PostScript module recognises the file (0 or 1). When padPath
// is given it receives a malloc'd copy of that module's settings pad path
// (the caller frees it with free()), whether or not the file is PostScript.
int KX_CheckPS(const char* name, char** padPath);
// Resets reader, writer and operator, then loads the file with the first
// reader that recognises it; 1 when none does. On success the loaded image
// is current. On failure no image is current; objr stays set.
uint32_t KX_Load(const char* name, uint32_t loadMeta);
// A load that keeps the current image until the new one is there, in two
// halves. The first loads the file with a reader object of its own (of the
// class of the first table reader that recognises the file) and touches no
// bridge state, so it may run on a worker while the current image is shown:
// 0 and *reader the loaded object (the caller owns it), or an error with
// *reader null (1 when no reader knows the file). The second, on the
// interface thread, makes that reader's image the current image: reader,
// writer and operator are reset as by KX_Load, and the bridge owns the
// reader object until the next read reset.
uint32_t KX_ReadWithOwnReader(const char* name, uint32_t loadMeta, KXObject** reader);
void KX_AdoptReader(KXObject* reader);
// The same through a device reader in I/O mode 3, with an optional settings list.
uint32_t KX_LoadDevice(KXObject* device, KXConfig* settings, uint32_t loadMeta);
void KX_SetSaveFormat(uint32_t number, uint32_t subFormat);
KXObject* KX_GetSaveFormat(uint32_t number);  // null outside the table
// Saves the current image with the chosen writer: 9 without a current image
// or without a writer. The record is handed over only when saveMeta is set.
// writerSettings, when given, is handed to the writer after the writer's
// reset that starts the save (a list handed earlier would be dropped by that
// reset) and taken back before the writer's final reset.
uint32_t KX_Save(const char* name, uint32_t saveMeta, KXOSpecialInfo* record, KXConfig* writerSettings = nullptr);
// Writes the current image's 8-bit alpha map as a grey image; 0xFFFFFFFF
// when it has none.
uint32_t KX_SaveAlpha(const char* name);
// The current image: takes over a pending operator result first.
KX_GfxBuffer* KX_GetGfxBuffer();
// Makes image (may be null) the replacement image, owned by the bridge.
void KX_SetGfxBuffer(KX_GfxBuffer* image);
void KX_ResetHandle(uint32_t read, uint32_t write, uint32_t op);

// ---- metadata functions ----------------------------------------------------------
KXOSpecialInfo* KX_GetMetaData();  // KX_GetMetaDataCheck(1)
// The current record: the bridge's copy, else the reader's; null without a
// reader or after KX_StripMetaData; with check, null when no content field
// (Anno .. Orientation) is set.
KXOSpecialInfo* KX_GetMetaDataCheck(uint32_t check);
uint32_t KX_IsUnlinkedMetaData();
uint32_t KX_UnLinkMetaData();  // 29 when there is no record
uint32_t KX_CreateMetaData();
uint32_t KX_CloneMetaData(const KXOSpecialInfo* record, KXOSpecialInfo** copy);
void KX_FreeMetaData(KXOSpecialInfo* record);
void KX_StripMetaData();

// ---- services --------------------------------------------------------------------
// The progress hook handed to every module.
void MyProgress(KXProgress* progress, uintptr_t user);

// The external-program runner: starts program with the argument vector args
// (after the program name, null-terminated) via posix_spawnp, no shell,
// in workDir (null or empty: current folder); standard output and error go
// to /dev/null; waits for the end. 0, or 32 when it cannot be started or
// waited for. KX_InstallRunner registers it as the library's runner.
uint32_t _system(const char* program, const char* workDir, const char* const* args);
// The same with standard output written to outputFile (created or
// truncated); standard error is discarded.
uint32_t _system_stdout(const char* program, const char* workDir, const char* const* args, const char* outputFile);
void KX_InstallRunner();
// The exit code of the last program this thread ran through that runner;
// -1 when it could not be started or did not end normally.
int KX_LastExitCode();
