#include "velkras2/Secret.h"

#include <cstring>

#include <openssl/crypto.h>

#include "velkras2/RasUtil.h"

void Secret_Clear(void* bytes, size_t count) {
  if (bytes && count) OPENSSL_cleanse(bytes, count);
}

void Secret_FreeText(char* text) {
  if (!text) return;
  Secret_Clear(text, std::strlen(text));
  RasUtil_Free(text);
}
