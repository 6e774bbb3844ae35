#include "core/Module.h"

namespace {

HINSTANCE instanceHandle = nullptr;

}  // namespace

HINSTANCE appInstance() { return instanceHandle; }

void setAppInstance(HINSTANCE instance) { instanceHandle = instance; }
