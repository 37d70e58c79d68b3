#include "match/match_context.h"

#include <memory>
#include <utility>

namespace fx60::match {

MatchWorkBuffers& threadWorkBuffers() {
  // One set of buffers per thread, allocated on first use and kept for the thread's life,
  // so that comparisons on different threads never share state.
  thread_local std::unique_ptr<MatchWorkBuffers> buffers = std::make_unique<MatchWorkBuffers>();
  return *buffers;
}

void resetContext(MatchContext& ctx, MatchWorkBuffers& buffers) {
  std::destroy_at(&ctx);
  std::construct_at(&ctx);
  ctx.viewA.minutiae = ctx.minutiaStorage[0].data();
  ctx.viewA.singularPoints = ctx.singularStorage[0].data();
  ctx.viewB.minutiae = ctx.minutiaStorage[1].data();
  ctx.viewB.singularPoints = ctx.singularStorage[1].data();
  ctx.buffers = &buffers;
  ctx.pairsA = buffers.pairsA.data();
  ctx.pairKeysB = buffers.pairKeysB.data();
  ctx.pairsB = buffers.pairsB.data();
  ctx.matches = buffers.matches.data();
  ctx.rotationVotes = buffers.rotationVotes.data();
}

void swapViews(MatchContext& ctx) { std::swap(ctx.viewA, ctx.viewB); }

}  // namespace fx60::match
