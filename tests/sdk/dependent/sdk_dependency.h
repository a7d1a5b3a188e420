// A library that the dependent test checker SDK imports, as a vendor's SDK
// imports libraries that ship beside it.
#pragma once

#if defined(_WIN32)
#if defined(KESP_BUILDING_SDK_DEPENDENCY)
#define KESP_SDK_DEPENDENCY_API __declspec(dllexport)
#else
#define KESP_SDK_DEPENDENCY_API __declspec(dllimport)
#endif
#else
#define KESP_SDK_DEPENDENCY_API __attribute__((visibility("default")))
#endif

inline constexpr int kSdkDependencyAnswer = 17;

extern "C" KESP_SDK_DEPENDENCY_API int kespSdkDependencyAnswer();
