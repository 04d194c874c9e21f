/* mingw-w64's unknwn.h declares the IUnknown_*_Proxy helpers (exported by rpcrt4) for C++
 * only; the generated C proxies need them too. Force-included into the proxy/stub build. */
#include <objbase.h>
#ifdef __cplusplus
extern "C" {
#endif
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
#ifdef __cplusplus
}
#endif
