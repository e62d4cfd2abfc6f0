/* lumirex for OLE Automation hosts on Windows (C#, VB, Delphi and the like):
 * the integration call on the host's own VARIANTs.
 *
 * params holds a one-dimensional SAFEARRAY of VARIANT (VT_ARRAY | VT_VARIANT,
 * directly or by reference), the parameter list; its element at the lower
 * bound is element 0 and every element is passed. result holds the host's
 * one-dimensional SAFEARRAY of VARIANT, made and sized by the host (at least
 * 5 elements for "CONSULTA", 2 for the others); after a true return the call
 * has written the elements it sets in place, counting from the lower bound,
 * all of them; after a false return the array is as the host made it. It never
 * creates, resizes or frees the array.
 *
 * Elements in: VT_EMPTY, VT_NULL, VT_BOOL, the integer types (VT_I1 to VT_I8,
 * VT_UI1 to VT_UI8, VT_INT, VT_UINT), VT_R4, VT_R8, VT_CY, VT_DECIMAL, VT_DATE
 * (the same day count as LUMIREX_DATETIME), VT_BSTR (converted to the host
 * encoding, see LumirexSetHostEncoding), a byte array (VT_ARRAY | VT_UI1,
 * taken as the bytes of a text: a data packet) and arrays of VARIANT; any of
 * them by reference. Another type fails the call (LUMIREX_E_INPUT).
 * Elements out: VT_BOOL, VT_I4 (VT_I8 when the value needs it), VT_R8,
 * VT_DATE, VT_BSTR, VT_EMPTY, VT_NULL.
 *
 * Returns true (1) or false (0) as IntegracaoLumirex does; LumirexLastCall
 * says what became of a call. */
#ifndef LUMIREX_OLE_H
#define LUMIREX_OLE_H

#include <oaidl.h>

#include "lumirex/lumirex.h"

#ifdef __cplusplus
extern "C" {
#endif

LUMIREX_API bool LUMIREX_CALL IntegracaoLumirexOle(const VARIANT* params, VARIANT* result);

#ifdef __cplusplus
}
#endif

#endif
