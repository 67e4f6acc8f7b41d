// haldmoor3-sign: the release manager's tool for the keys and signatures of program updates.
//
//   haldmoor3-sign keygen SECRET-FILE PUBLIC-FILE   a new key pair; never overwrites a file
//   haldmoor3-sign sign SECRET-FILE FILE            writes FILE.sig (64 raw bytes)
//   haldmoor3-sign verify PUBLIC-FILE FILE          checks FILE.sig: exit 0 valid, 1 invalid
//
// Exit 2 on wrong arguments or a file that cannot be read or written, with one line on stderr. The
// secret key file is created readable by its owner only, from the first byte on: a file that another
// user could open for a moment could be read through that descriptor later.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "update/update_signature.h"

namespace {

constexpr int kValid = 0, kInvalid = 1, kTrouble = 2;

int Trouble(const std::string& text) {
    std::fprintf(stderr, "haldmoor3-sign: %s\n", text.c_str());
    return kTrouble;
}

int Usage() {
    std::fputs("usage: haldmoor3-sign keygen SECRET-FILE PUBLIC-FILE\n"
               "       haldmoor3-sign sign SECRET-FILE FILE      (writes FILE.sig)\n"
               "       haldmoor3-sign verify PUBLIC-FILE FILE    (reads FILE.sig; exit 0 valid, 1 invalid)\n",
               stderr);
    return kTrouble;
}

// Creates path (it must not exist yet) with the given permissions and writes text to it.
bool CreateNewFile(const std::string& path, const std::string& text, int mode, std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        why = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    int code = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            code = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (code == 0 && ::fsync(fd) != 0) code = errno;
    if (::close(fd) != 0 && code == 0) code = errno;  // a delayed write error shows up here
    if (code != 0) {
        why = "cannot write " + path + ": " + std::strerror(code);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

int KeyGen(const std::string& secretPath, const std::string& publicPath) {
    for (const std::string& path : {secretPath, publicPath}) {
        if (hm::fs::FileExists(path)) return Trouble(path + " exists already; a key file is never overwritten");
    }
    std::string secret;
    hm::UpdateKey publicKey{};
    if (!hm::MakeUpdateKeyPair(secret, publicKey)) return Trouble("the signing library cannot be initialised");
    std::string why;
    if (!CreateNewFile(secretPath, hm::HexBytes(secret) + "\n", 0600, why)) return Trouble(why);
    if (!CreateNewFile(publicPath, hm::UpdateKeyHex(publicKey) + "\n", 0644, why)) {
        // Half a key pair is of no use and would block the next attempt.
        ::unlink(secretPath.c_str());
        return Trouble(why);
    }
    return kValid;
}

bool ReadFile(const std::string& path, std::string& data, std::string& why) {
    const hm::fs::ReadResult result = hm::fs::ReadFileLimited(path, 1ull << 31, data);
    if (!result.ok()) why = "cannot read " + path + ": " + result.reason;
    return result.ok();
}

int Sign(const std::string& secretPath, const std::string& filePath) {
    std::string secretText, data, why;
    if (!ReadFile(secretPath, secretText, why) || !ReadFile(filePath, data, why)) return Trouble(why);
    std::string secret;
    if (!hm::ParseHexBytes(secretText, hm::kUpdateSecretKeySize, secret))
        return Trouble(secretPath + " is not a secret key file (" + std::to_string(2 * hm::kUpdateSecretKeySize) +
                       " hex digits)");
    const std::string signature = hm::SignUpdate(data, secret);
    if (signature.empty()) return Trouble(secretPath + " is damaged: its public half does not belong to it");
    if (!hm::fs::ReplaceFileAtomically(filePath + ".sig", signature)) return Trouble("cannot write " + filePath + ".sig");
    return kValid;
}

int Verify(const std::string& publicPath, const std::string& filePath) {
    std::string publicText, data, signature, why;
    if (!ReadFile(publicPath, publicText, why) || !ReadFile(filePath, data, why) ||
        !ReadFile(filePath + ".sig", signature, why))
        return Trouble(why);
    hm::UpdateKey key{};
    if (!hm::ParseUpdateKey(publicText, key)) return Trouble(publicPath + " is not a public key file (64 hex digits)");
    if (!hm::VerifyUpdateSignature(data, signature, key)) {
        std::fprintf(stderr, "haldmoor3-sign: %s: the signature is NOT valid\n", filePath.c_str());
        return kInvalid;
    }
    std::fprintf(stderr, "haldmoor3-sign: %s: the signature is valid\n", filePath.c_str());
    return kValid;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage();
    const std::string command = argv[1];
    if (command == "keygen") return KeyGen(argv[2], argv[3]);
    if (command == "sign") return Sign(argv[2], argv[3]);
    if (command == "verify") return Verify(argv[2], argv[3]);
    return Usage();
}
