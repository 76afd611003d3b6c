#pragma once

#include "render/render_options.h"

// zarvo-render's pyramids. Each returns the exit status and says what
// became of the run in one line: 0 done; 1 failed; 2 bad arguments; 128 + N
// stopped by signal N. A pyramid that fails or is stopped keeps every tile
// it drew, and the same command resumes it.

// Draws the pyramid (or the --chunk part of it) that `options` asks for
// into its target, skipping the tiles the target holds already.
int RunPyramid(const RenderOptions& options);

// Joins --merge's parts into --out.
int RunMerge(const RenderOptions& options);
