// The scene database: the element base and its context, the root, the game
// file loader, saved state and every element kind.
#pragma once

#include "scene/Anim.h"
#include "scene/Context.h"
#include "scene/Effect.h"
#include "scene/Element.h"
#include "scene/ImList.h"
#include "scene/Image.h"
#include "scene/Root.h"
#include "scene/SavedState.h"
#include "scene/Screen.h"
#include "scene/Shape.h"
#include "scene/Stored.h"
#include "scene/Text.h"
