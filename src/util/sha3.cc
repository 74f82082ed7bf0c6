#include <qix/util/exceptions.h>
#include <qix/util/sha3.h>

#include <openssl/evp.h>

#include <memory>

namespace qix {

std::array<unsigned char, 28> sha3_224(std::span<const unsigned char> data)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::array<unsigned char, 28> digest{};
    unsigned int length = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha3_224(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != digest.size())
        throw Error("Unable to compute SHA3-224 digest");
    return digest;
}

} // namespace qix
