// Small helpers for media types handed out by filters in task memory.
#ifndef BRISCACAP_MEDIA_TYPES_H
#define BRISCACAP_MEDIA_TYPES_H

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>

// Classes of the platform's editing library that its headers here do not
// declare; the identifiers come from the platform's identifier library.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

// Frees the format block and the object reference of a type record.
void ClearMediaType(AM_MEDIA_TYPE& type);
// Frees a type record handed out in task memory, with its format block.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// The type's VIDEOINFOHEADER, or null when its format block is not one.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type);

#endif
