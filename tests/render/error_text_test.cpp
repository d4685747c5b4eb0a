#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "render/qlt.h"

namespace {

const char* TextOf(uint32_t code) { return qlt_ErrorText(static_cast<int32_t>(code)); }

// The texts as users have seen them, spelling slips included; the general
// COM codes DirectDraw reuses; and the first, last and odd rows of each
// family, so that a shifted or misnumbered table shows.
TEST(ErrorText, PinnedRowsGiveTheirExactText) {
  const std::pair<uint32_t, const char*> rows[] = {
      {0x80004001u, "Action not supported."},
      {0x80004005u, "Generic failure."},
      {0x8007000Eu, "DirectDraw does not have enough memory to perform the operation."},
      {0x8876017Cu, "DirectDraw does not have enough memory to perform the operation."},
      {0x80070057u, "One or more of the parameters passed to the function are incorrect."},
      {0x887600B4u,
       "Operation could not be carried out because there is no alpha accleration hardware present or "
       "available."},
      {0x887600D7u, "Surface doesn't currently have a color key"},
      {0x88760180u, "Can only have ony color key active at one time for overlays."},
      {0x887601C2u,
       "Access to this surface is being refused because the surface memory is gone. The DirectDrawSurface "
       "object representing this surface should have Restore called on it."},
      {0x8876021Cu,
       "Informs DirectDraw that the previous Blt which is transfering information to or from this Surface "
       "is incomplete."},
      {0x88760248u,
       "Surface was not locked.  An attempt to unlock a surface that was not locked at all, or by this "
       "process, has been attempted."},
      {0x8876024Du, "The surface being used is not a palette-based surface."},
      {0x887602BCu, "D3DERR_BADMAJORVERSION"},
      {0x887602D7u, "D3DERR_TEXTURELOCKED"},
      {0x887602EEu, "D3DERR_LIGHT_SET_FAILED"},
      {0x88760313u, "The file was not found."},
      {0x88760319u, "D3DRMERR_UNABLETOEXECUTE"},
  };
  for (const auto& [code, text] : rows) EXPECT_STREQ(text, TextOf(code)) << std::hex << code;
}

TEST(ErrorText, OkIsEmptyEveryListedCodeHasATextAndOthersAreUnrecognized) {
  EXPECT_STREQ("", qlt_ErrorText(0));
  // The first DirectDraw codes of the table and a few between (the last is
  // pinned above).
  for (uint32_t code : {0x88760005u, 0x8876000Au, 0x88760037u, 0x887600D4u, 0x887601B3u, 0x88760231u})
    EXPECT_STRNE("Unrecognized error value.", TextOf(code)) << std::hex << code;
  // Codes of the same families beside listed ones (0x887602D6 is the
  // texture swap failure the table leaves out) and codes of no family.
  for (uint32_t code : {0x887602D6u, 0x887600DEu, 0x8876024Eu, 0x887602BEu, 0x8876030Cu, 0x8876031Au,
                        0x88760000u, 0x80004002u, 0xFFFFFFFFu, 1u})
    EXPECT_STREQ("Unrecognized error value.", TextOf(code)) << std::hex << code;
}

}  // namespace
