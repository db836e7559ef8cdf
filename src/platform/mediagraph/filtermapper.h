// The filter mapper: registered filters with their merit and pin types, kept in the class
// registry under "Filters\{clsid}" so that every program sees the same set. The graph's Render
// and Connect ask it for candidates, best merit first.
#pragma once

#include "platform/mediagraph/interfaces.h"

// Creatable through CoCreateInstance in any program or module that uses this layer.
extern const CLSID CLSID_FilterMapper2;

// The registration of a module's classes: for each template the class keys (name, module path,
// "ThreadingModel" = "Both"), then the filters with setup data in the mapper; unregistering
// removes the filters first and, only if that worked, the keys. pModuleAddress is any address in
// the module (its own path is looked up from it). Errors of the registry come back as
// HRESULT_FROM_WIN32; a failing mapper registration leaves the keys in place.
HRESULT AMovieDllRegisterServer2(BOOL bRegister, const CFactoryTemplate* pTemplates, int nTemplates,
                                 const void* pModuleAddress);
