// A decoder record set up for a w x h picture, as the VOL header would, for
// tests that drive one stage (motion compensation, reference update) alone.
#pragma once

#include <cstddef>

#include "viewer/media/mpeg4/decoder.h"
#include "viewer/media/mpeg4/internal.h"

struct SizedDecoder {
    DECODER* d = decoder_create();
    SizedDecoder(int w, int h)
    {
        d->width = w;
        d->height = h;
        mpeg4::derive_layout(*d);
    }
    ~SizedDecoder() { (void)decoder_destroy(d); }
    SizedDecoder(const SizedDecoder&) = delete;
    SizedDecoder& operator=(const SizedDecoder&) = delete;
    size_t luma_bytes() const { return static_cast<size_t>(d->luma_stride) * (d->height + 64); }
    size_t chroma_bytes() const { return static_cast<size_t>(d->chroma_stride) * (d->height / 2 + 32); }
};
