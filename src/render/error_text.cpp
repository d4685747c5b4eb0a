// Texts of the DirectDraw, Direct3D and Retained Mode result codes, for the
// third line of the library's error text.

#include <cstddef>
#include <cstdint>

#include "render/qlt.h"

namespace {

struct ErrorTextEntry {
  uint32_t code;
  const char* text;
};

// DirectDraw builds its codes on facility 0x876 (MAKE_DDHRESULT).
constexpr uint32_t Dd(uint32_t code) { return 0x88760000u + code; }

constexpr const char* OutOfMemoryText =
    "DirectDraw does not have enough memory to perform the operation.";

// One row per code. The four general COM codes that DirectDraw reuses
// (E_NOTIMPL, E_FAIL, E_OUTOFMEMORY, E_INVALIDARG) appear once each, under
// their DirectDraw names; no two rows share a value (checked below), so the
// order of the rows never decides a text.
constexpr ErrorTextEntry ErrorTexts[] = {
    // DirectDraw
    {0x00000000u, ""},  // DD_OK
    {0x80004001u, "Action not supported."},  // DDERR_UNSUPPORTED
    {0x80004005u, "Generic failure."},  // DDERR_GENERIC
    {0x8007000Eu, OutOfMemoryText},  // DDERR_OUTOFMEMORY
    {Dd(380), OutOfMemoryText},  // DDERR_OUTOFVIDEOMEMORY
    {0x80070057u, "One or more of the parameters passed to the function are incorrect."},  // DDERR_INVALIDPARAMS
    {Dd(5), "This object has already been initialized."},  // DDERR_ALREADYINITIALIZED
    {Dd(10), "This surface can not be attached to the requested surface."},  // DDERR_CANNOTATTACHSURFACE
    {Dd(20), "This surface can not be detached from the requested surface."},  // DDERR_CANNOTDETACHSURFACE
    {Dd(40), "Support is currently not available."},  // DDERR_CURRENTLYNOTAVAIL
    {Dd(55), "An exception was encountered while performing the requested operation."},  // DDERR_EXCEPTION
    {Dd(90), "Height of the rectangle given is not a multiple of the required alignment."},  // DDERR_HEIGHTALIGN
    {Dd(95), "Unable to match primary surface creation request with existing primary surface."},  // DDERR_INCOMPATIBLEPRIMARY
    {Dd(100), "One or more of the capability bits passed to the function are incorrect."},  // DDERR_INVALIDCAPS
    {Dd(110), "DirectDraw does not support the clip list that was given."},  // DDERR_INVALIDCLIPLIST
    {Dd(120), "DirectDraw does not support the requested mode."},  // DDERR_INVALIDMODE
    {Dd(130), "DirectDraw received a pointer that is not a valid DirectDraw object."},  // DDERR_INVALIDOBJECT
    {Dd(145), "The pixel format given is not valid."},  // DDERR_INVALIDPIXELFORMAT
    {Dd(150), "The rectangle given is not valid."},  // DDERR_INVALIDRECT
    {Dd(160), "Operation could not be carried out because one or more surfaces are locked."},  // DDERR_LOCKEDSURFACES
    {Dd(170), "There is no 3D present."},  // DDERR_NO3D
    {Dd(180), "Operation could not be carried out because there is no alpha accleration hardware present or available."},  // DDERR_NOALPHAHW
    {Dd(205), "No clip list is available."},  // DDERR_NOCLIPLIST
    {Dd(210), "Operation could not be carried out because there is no color conversion hardware present or available."},  // DDERR_NOCOLORCONVHW
    {Dd(212), "A create function was called before the cooperative level was set."},  // DDERR_NOCOOPERATIVELEVELSET
    {Dd(215), "Surface doesn't currently have a color key"},  // DDERR_NOCOLORKEY
    {Dd(220), "Operation could not be carried out because there is no hardware support for the destination color key."},  // DDERR_NOCOLORKEYHW
    {Dd(225), "Operation requires the application to have exclusive mode but the application does not have exclusive mode."},  // DDERR_NOEXCLUSIVEMODE
    {Dd(230), "Flipping visible surfaces is not supported by the hardware."},  // DDERR_NOFLIPHW
    {Dd(240), "There is no GDI present."},  // DDERR_NOGDI
    {Dd(250), "Operation could not be carried out because there is no hardware present or available."},  // DDERR_NOMIRRORHW
    {Dd(255), "The requested item was not found."},  // DDERR_NOTFOUND
    {Dd(260), "Operation could not be carried out because there is no overlay hardware present or available."},  // DDERR_NOOVERLAYHW
    {Dd(280), "Operation could not be carried out because there is no raster operation hardware present or available."},  // DDERR_NORASTEROPHW
    {Dd(290), "Operation could not be carried out because there is no rotation hardware present or available."},  // DDERR_NOROTATIONHW
    {Dd(310), "Operation could not be carried out because there is no hardware support for stretching."},  // DDERR_NOSTRETCHHW
    {Dd(316), "The operation requires a 4 bit color palette and the surface does not have one."},  // DDERR_NOT4BITCOLOR
    {Dd(317), "The operation requires a 4 bit color index palette and the surface does not have one."},  // DDERR_NOT4BITCOLORINDEX
    {Dd(320), "The operation requires an 8 bit color palette and the surface does not have one."},  // DDERR_NOT8BITCOLOR
    {Dd(330), "Operation could not be carried out because there is no texture mapping hardware present or available."},  // DDERR_NOTEXTUREHW
    {Dd(335), "Operation could not be carried out because there is no hardware support for vertical blank synchronized operations."},  // DDERR_NOVSYNCHW
    {Dd(340), "Operation could not be carried out because there is no hardware support for z-buffers."},  // DDERR_NOZBUFFERHW
    {Dd(350), "Overlay surfaces could not be z-layered because the hardware does not support z-ordering of overlays."},  // DDERR_NOZOVERLAYHW
    {Dd(360), "The hardware needed for the requested operation has already been allocated."},  // DDERR_OUTOFCAPS
    {Dd(382), "The hardware does not support clipped overlays."},  // DDERR_OVERLAYCANTCLIP
    {Dd(384), "Can only have ony color key active at one time for overlays."},  // DDERR_OVERLAYCOLORKEYONLYONEACTIVE
    {Dd(387), "Access to this palette is being refused because the palette is already locked by another thread."},  // DDERR_PALETTEBUSY
    {Dd(400), "No source color key was given for this operation."},  // DDERR_COLORKEYNOTSET
    {Dd(410), "This surface is already attached to the surface it is being attached to."},  // DDERR_SURFACEALREADYATTACHED
    {Dd(420), "This surface is already a dependency of the surface it is being made a dependency of."},  // DDERR_SURFACEALREADYDEPENDENT
    {Dd(430), "Access to this surface is being refused because the surface is already locked by another thread."},  // DDERR_SURFACEBUSY
    {Dd(435), "Access to this surface is being refused because no driver can supply a pointer to the surface."},  // DDERR_CANTLOCKSURFACE
    {Dd(450), "Access to this surface is being refused because the surface memory is gone. The DirectDrawSurface object representing this surface should have Restore called on it."},  // DDERR_SURFACELOST
    {Dd(460), "The requested surface is not attached."},  // DDERR_SURFACENOTATTACHED
    {Dd(470), "Height requested by DirectDraw is too large."},  // DDERR_TOOBIGHEIGHT
    {Dd(480), "Size requested by DirectDraw is too large, but the individual height and width are OK."},  // DDERR_TOOBIGSIZE
    {Dd(490), "Width requested by DirectDraw is too large."},  // DDERR_TOOBIGWIDTH
    {Dd(510), "The pixel format requested is not supported by DirectDraw."},  // DDERR_UNSUPPORTEDFORMAT
    {Dd(520), "The bit mask in the pixel format requested is not supported by DirectDraw."},  // DDERR_UNSUPPORTEDMASK
    {Dd(537), "A vertical blank is in progress."},  // DDERR_VERTICALBLANKINPROGRESS
    {Dd(540), "Informs DirectDraw that the previous Blt which is transfering information to or from this Surface is incomplete."},  // DDERR_WASSTILLDRAWING
    {Dd(560), "The rectangle given was not horizontally aligned on the required boundary."},  // DDERR_XALIGN
    {Dd(561), "The GUID passed to DirectDrawCreate is not a valid DirectDraw driver identifier."},  // DDERR_INVALIDDIRECTDRAWGUID
    {Dd(562), "A DirectDraw object representing this driver has already been created for this process."},  // DDERR_DIRECTDRAWALREADYCREATED
    {Dd(563), "A hardware only DirectDraw object could not be created because the driver does not support any hardware."},  // DDERR_NODIRECTDRAWHW
    {Dd(564), "This process already has created a primary surface."},  // DDERR_PRIMARYSURFACEALREADYEXISTS
    {Dd(565), "Software emulation is not available."},  // DDERR_NOEMULATION
    {Dd(566), "The region passed to the clipper's GetClipList is too small."},  // DDERR_REGIONTOOSMALL
    {Dd(567), "A clip list can not be set on a clipper that is already watching a window."},  // DDERR_CLIPPERISUSINGHWND
    {Dd(568), "No clipper object is attached to the surface."},  // DDERR_NOCLIPPERATTACHED
    {Dd(569), "No window has been given to DirectDraw with the cooperative level."},  // DDERR_NOHWND
    {Dd(570), "The window is subclassed by another DirectDraw object, so its state can not be restored."},  // DDERR_HWNDSUBCLASSED
    {Dd(571), "The cooperative level window can not be changed while surfaces or palettes exist."},  // DDERR_HWNDALREADYSET
    {Dd(572), "No palette object is attached to this surface."},  // DDERR_NOPALETTEATTACHED
    {Dd(573), "There is no hardware support for 16 or 256 color palettes."},  // DDERR_NOPALETTEHW
    {Dd(574), "BltFast can not be used on a surface that has a clipper attached."},  // DDERR_BLTFASTCANTCLIP
    {Dd(575), "There is no blitter hardware present."},  // DDERR_NOBLTHW
    {Dd(576), "There is no DirectDraw raster operation hardware present."},  // DDERR_NODDROPSHW
    {Dd(577), "The position of an overlay that is hidden was asked for."},  // DDERR_OVERLAYNOTVISIBLE
    {Dd(578), "The position of an overlay that has no destination yet was asked for."},  // DDERR_NOOVERLAYDEST
    {Dd(579), "The position of the overlay on the destination surface is no longer legal."},  // DDERR_INVALIDPOSITION
    {Dd(580), "An overlay operation was attempted on a surface that is not an overlay."},  // DDERR_NOTAOVERLAYSURFACE
    {Dd(581), "Another application already has exclusive mode."},  // DDERR_EXCLUSIVEMODEALREADYSET
    {Dd(582), "An attempt was made to flip a surface that can not be flipped."},  // DDERR_NOTFLIPPABLE
    {Dd(583), "Primary surfaces and the surfaces created with them can not be duplicated."},  // DDERR_CANTDUPLICATE
    {Dd(584), "Surface was not locked.  An attempt to unlock a surface that was not locked at all, or by this process, has been attempted."},  // DDERR_NOTLOCKED
    {Dd(585), "A device context could not be created for this surface."},  // DDERR_CANTCREATEDC
    {Dd(586), "No device context was ever created for this surface."},  // DDERR_NODC
    {Dd(587), "This surface was created in another display mode and can not be restored."},  // DDERR_WRONGMODE
    {Dd(588), "This surface was created along with another surface and can not be restored on its own."},  // DDERR_IMPLICITLYCREATED
    {Dd(589), "The surface being used is not a palette-based surface."},  // DDERR_NOTPALETTIZED

    // Direct3D: the code's own name.
    {Dd(700), "D3DERR_BADMAJORVERSION"},
    {Dd(701), "D3DERR_BADMINORVERSION"},
    {Dd(710), "D3DERR_EXECUTE_CREATE_FAILED"},
    {Dd(711), "D3DERR_EXECUTE_DESTROY_FAILED"},
    {Dd(712), "D3DERR_EXECUTE_LOCK_FAILED"},
    {Dd(713), "D3DERR_EXECUTE_UNLOCK_FAILED"},
    {Dd(714), "D3DERR_EXECUTE_LOCKED"},
    {Dd(715), "D3DERR_EXECUTE_NOT_LOCKED"},
    {Dd(716), "D3DERR_EXECUTE_FAILED"},
    {Dd(717), "D3DERR_EXECUTE_CLIPPED_FAILED"},
    {Dd(720), "D3DERR_TEXTURE_NO_SUPPORT"},
    {Dd(721), "D3DERR_TEXTURE_CREATE_FAILED"},
    {Dd(722), "D3DERR_TEXTURE_DESTROY_FAILED"},
    {Dd(723), "D3DERR_TEXTURE_LOCK_FAILED"},
    {Dd(724), "D3DERR_TEXTURE_UNLOCK_FAILED"},
    {Dd(725), "D3DERR_TEXTURE_LOAD_FAILED"},
    {Dd(727), "D3DERR_TEXTURELOCKED"},  // D3DERR_TEXTURE_LOCKED
    {Dd(728), "D3DERR_TEXTURE_NOT_LOCKED"},
    {Dd(730), "D3DERR_MATRIX_CREATE_FAILED"},
    {Dd(731), "D3DERR_MATRIX_DESTROY_FAILED"},
    {Dd(732), "D3DERR_MATRIX_SETDATA_FAILED"},
    {Dd(734), "D3DERR_SETVIEWPORTDATA_FAILED"},
    {Dd(740), "D3DERR_MATERIAL_CREATE_FAILED"},
    {Dd(741), "D3DERR_MATERIAL_DESTROY_FAILED"},
    {Dd(742), "D3DERR_MATERIAL_SETDATA_FAILED"},
    {Dd(750), "D3DERR_LIGHT_SET_FAILED"},

    // Direct3D Retained Mode: the code's own name.
    {Dd(781), "D3DRMERR_BADOBJECT"},
    {Dd(782), "D3DRMERR_BADTYPE"},
    {Dd(783), "D3DRMERR_BADALLOC"},
    {Dd(784), "D3DRMERR_FACEUSED"},
    {Dd(785), "D3DRMERR_NOTFOUND"},
    {Dd(786), "D3DRMERR_NOTDONEYET"},
    {Dd(787), "The file was not found."},  // D3DRMERR_FILENOTFOUND
    {Dd(788), "D3DRMERR_BADFILE"},
    {Dd(789), "D3DRMERR_BADDEVICE"},
    {Dd(790), "D3DRMERR_BADVALUE"},
    {Dd(791), "D3DRMERR_BADMAJORVERSION"},
    {Dd(792), "D3DRMERR_BADMINORVERSION"},
    {Dd(793), "D3DRMERR_UNABLETOEXECUTE"},
};

constexpr size_t ErrorTextCount = sizeof(ErrorTexts) / sizeof(ErrorTexts[0]);
static_assert(ErrorTextCount == 130, "91 DirectDraw, 26 Direct3D and 13 Retained Mode codes");

constexpr bool CodesAreDistinct() {
  for (size_t i = 0; i < ErrorTextCount; ++i)
    for (size_t j = i + 1; j < ErrorTextCount; ++j)
      if (ErrorTexts[i].code == ErrorTexts[j].code) return false;
  return true;
}
static_assert(CodesAreDistinct(), "a code must have exactly one text");

}  // namespace

const char* qlt_ErrorText(int32_t result) {
  const uint32_t code = static_cast<uint32_t>(result);
  for (const ErrorTextEntry& entry : ErrorTexts)
    if (entry.code == code) return entry.text;
  return "Unrecognized error value.";
}
