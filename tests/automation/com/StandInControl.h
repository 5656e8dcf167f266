/* The stand-in automation server (StandInServer.cpp) as its tests see it: the class it registers for
 * "Excel.Application", and the exports that inject failures into it and report what it was asked. A test
 * loads the DLL with LoadLibraryW and finds each export with GetProcAddress under the name of the function,
 * casting it to the matching pointer type below.
 *
 * Calls are numbered from 1 after StandIn_Reset: each IDispatch::Invoke on any of its objects, and each
 * IClassFactory::CreateInstance, is one call and one line of the log. */
#ifndef ORVANDEL_STANDIN_CONTROL_H
#define ORVANDEL_STANDIN_CONTROL_H

#include <wchar.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* {0DBF9599-3852-4C45-878C-153D4FFBFDAA} */
static const GUID CLSID_OrvandelStandInApplication = {
    0x0dbf9599, 0x3852, 0x4c45, {0x87, 0x8c, 0x15, 0x3d, 0x4f, 0xfb, 0xfd, 0xaa}};

/* What a failing call reports in EXCEPINFO (wCode is 0), as the application's own failures do. */
#define STANDIN_EXCEPTION_SCODE ((HRESULT)0x800A03ECL)
#define STANDIN_EXCEPTION_SOURCE L"Stand-in spreadsheet"

/* Forgets the log, the injected failures, the call numbers and the counts of created and quit instances and
 * of saves; the objects alive stay alive and counted. Ends a hung call. */
void __cdecl StandIn_Reset(void);
/* Calls since the last reset. */
int __cdecl StandIn_CallCount(void);
/* The log, one line a call joined with "\n"; valid until the next control call. */
const wchar_t* __cdecl StandIn_Log(void);
/* Call number `call` fails with DISP_E_EXCEPTION and the description (none when null), without doing
 * anything; CreateInstance fails with CO_E_SERVER_EXEC_FAILURE instead. */
void __cdecl StandIn_FailCall(int call, const wchar_t* description);
/* Call number `call` returns `result`, without EXCEPINFO and without doing anything. */
void __cdecl StandIn_FailCallWithResult(int call, HRESULT result);
/* Call number `call` blocks until StandIn_EndHang (or 120 s), then fails with DISP_E_EXCEPTION
 * (CreateInstance: CO_E_SERVER_EXEC_FAILURE). */
void __cdecl StandIn_HangCall(int call);
void __cdecl StandIn_EndHang(void);
/* The server's COM objects alive now, its class factory left out. */
int __cdecl StandIn_LiveObjects(void);
/* Application objects alive now. */
int __cdecl StandIn_LiveInstances(void);
/* Application objects created, and those that were told to quit, since the last reset. */
int __cdecl StandIn_InstancesCreated(void);
int __cdecl StandIn_Quits(void);
/* Workbooks saved since the last reset. */
int __cdecl StandIn_SavedCount(void);

typedef void(__cdecl* StandIn_ResetFn)(void);
typedef int(__cdecl* StandIn_CallCountFn)(void);
typedef const wchar_t*(__cdecl* StandIn_LogFn)(void);
typedef void(__cdecl* StandIn_FailCallFn)(int call, const wchar_t* description);
typedef void(__cdecl* StandIn_FailCallWithResultFn)(int call, HRESULT result);
typedef void(__cdecl* StandIn_HangCallFn)(int call);
typedef void(__cdecl* StandIn_EndHangFn)(void);
typedef int(__cdecl* StandIn_LiveObjectsFn)(void);
typedef int(__cdecl* StandIn_LiveInstancesFn)(void);
typedef int(__cdecl* StandIn_InstancesCreatedFn)(void);
typedef int(__cdecl* StandIn_QuitsFn)(void);
typedef int(__cdecl* StandIn_SavedCountFn)(void);

/* Registers the local server (orvandel_standin_server.exe) for "Excel.Application" instead of this DLL, under
 * a class id made anew each time and given to it on its command line: `command` starts it, before that id and
 * the " -Embedding" COM adds. DllUnregisterServer removes either.
 *
 * The local server makes an instance for each client, and ends two seconds after its last object is released
 * (a minute after it started when no client comes). A test steers it through
 * the environment it inherits from the process that makes the instance (Wine's COM starts it from there):
 *   ORVANDEL_STANDIN_LOG      a file each call's log line is appended to as the call begins, and "<busy>"
 *                             for each busy answer, each process beginning with a line "<started PID>";
 *   ORVANDEL_STANDIN_HANG     the first call whose log line starts with this text hangs;
 *   ORVANDEL_STANDIN_HANG_MS  for so long (120 s unless given), then fails as a hung call does;
 *   ORVANDEL_STANDIN_BUSY     the number of first incoming calls answered SERVERCALL_RETRYLATER.
 * Application.Hwnd gives its hidden top-level window (0 from the DLL, which has none). */
HRESULT __cdecl StandIn_RegisterLocalServer(const wchar_t* command);
typedef HRESULT(__cdecl* StandIn_RegisterLocalServerFn)(const wchar_t* command);

/* The server's own COM exports, for registering it from a test. */
typedef HRESULT(__stdcall* StandIn_DllRegisterServerFn)(void);
typedef HRESULT(__stdcall* StandIn_DllUnregisterServerFn)(void);
typedef HRESULT(__stdcall* StandIn_DllCanUnloadNowFn)(void);

#ifdef __cplusplus
}
#endif

#endif
