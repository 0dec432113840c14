// The reference update service fixture of the client tests, shared: the
// programs started here ask it for driver offers. Debian's interpreter, as the
// service's build set-up finds it.
#ifndef QM_PYTHON_W
#define QM_PYTHON_W L"Z:\\usr\\bin\\python3"
#endif
#include "service/reference_service.cpp"
