// What the test program and the host compiled for the Microsoft ABI exchange.
// Plain C types and C functions only, which both Windows compilers call the
// same way; everything that crosses the plug-in's interfaces is called by the
// MSVC-compiled side.
#pragma once

#include <stdint.h>

extern "C" {

// Receives every line the plug-in writes to the host's log object.
typedef void (*KespMsvcLogLine)(void* context, uint32_t level, uint32_t module, uint32_t flags,
                                const char* text);

// Every value of the plug-in information object, as the MSVC side read it.
struct KespMsvcPluginInfo {
  int32_t pluginType;
  uint32_t apiMajor;
  uint32_t apiMinor;
  char name[64];
  int32_t pluginId;
  uint32_t version[4];  // major, minor, patch, build
};

// The outcome of checking, through an instance, an input object implemented
// by the MSVC side.
struct KespMsvcForeignCheck {
  uint32_t status;
  int outputHandedOut;  // the output slot was written
  int otherCalls;       // operations other than getType that the plug-in called
};

enum { kKespMsvcForeignChecks = 4 };  // {with RTTI, without} x {file, memory}

struct KespMsvcSession {
  // In.
  const wchar_t* libraryPath;
  const char* sdkDirectory;
  const char* filePath;  // of the file input; its size comes from the host's file object
  uint64_t fileSize;     // what that file object reports
  uint64_t connectionTimeout;
  KespMsvcLogLine logLine;
  void* logContext;
  // Out. failure names the first step that went against the contract (null
  // when none did) and value what that step got.
  const char* failure;
  uint64_t value;
  char fopsTrace[128];  // the host file operations the plug-in called, in order
  int fileVerdict;
  int memoryVerdict;
  KespMsvcForeignCheck foreign[kKespMsvcForeignChecks];
};

// Loads the library, reads every value of a plug-in information object and
// releases it and the plug-in object. Returns the failed step or null.
const char* kespMsvcReadPluginInfo(const wchar_t* libraryPath, KespMsvcLogLine logLine,
                                   void* logContext, KespMsvcPluginInfo* info);

// One whole session, from KESPGetPlugin to FreeLibrary.
void kespMsvcRunSession(KespMsvcSession* session);

// Checks through /*in*/ instance (an InstanceV1) an input object of the given
// type (0 file, 1 memory) made by a unit compiled with MSVC's RTTI, or
// without it.
void kespMsvcCheckForeignWithRtti(void* instance, uint32_t type, KespMsvcForeignCheck* result);
void kespMsvcCheckForeignWithoutRtti(void* instance, uint32_t type, KespMsvcForeignCheck* result);
}
