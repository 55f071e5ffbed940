#pragma once

// A lower layer reaching up: the include check must refuse it.
#include "engine/engine.h"
