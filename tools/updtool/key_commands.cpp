#include "tools/updtool/key_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>

#include "platform/code_page.h"
#include "platform/printable_text.h"
#include "publishing/signed_info.h"
#include "tools/updtool/exit_status.h"
#include "tools/updtool/file_io.h"
#include "tools/updtool/usage_error.h"
#include "wizard/information_file.h"
#include "wizard/profile_file.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

// A signature file is one line; anything much larger is not one, and is not read whole.
constexpr std::uint64_t kMaxSignatureFileBytes = 4096;

constexpr const char* kKeygenUsage = "usage: updtool keygen PREFIX\n";
constexpr const char* kSignUsage = "usage: updtool sign --key FILE.key UPDATE_INI\n";
constexpr const char* kVerifyUsage = "usage: updtool verify --pub FILE.pub UPDATE_INI\n";

int failure(std::string_view command, std::string_view message) {
    std::cerr << "updtool " << command << ": " << message << '\n';
    return kExitFailure;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// OPTION VALUE FILE in any order; false with `error` set for anything else.
bool parseOptionAndFile(const std::vector<std::string>& args, std::string_view option,
                        std::string& value, std::string& file, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == option) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = std::string(option) + " needs a file";
                return false;
            }
            value = args[++i];
        } else if (args[i].starts_with("-") && args[i].size() > 1) {
            error = "unknown option " + args[i];
            return false;
        } else if (!file.empty()) {
            error = "only one UPDATE_INI";
            return false;
        } else {
            file = args[i];
        }
    }
    if (value.empty()) {
        error = std::string(option) + " is missing";
    } else if (file.empty()) {
        error = "UPDATE_INI is missing";
    }
    return error.empty();
}

}  // namespace

int runKeygen(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0].starts_with("-")) {
        return usageError("keygen", "keygen needs exactly one PREFIX", kKeygenUsage);
    }
    const std::string secretPath = args[0] + ".key";
    const std::string publicPath = args[0] + ".pub";
    // Checked first, so that a second run changes nothing at all.
    for (const std::string& path : {secretPath, publicPath}) {
        if (exists(path)) {
            return failure("keygen", path + " already exists; keygen never overwrites a key");
        }
    }
    const auto pair = upd::wizard::generateKeyPair();
    if (!pair) {
        return failure("keygen", "the cryptography library could not start");
    }
    std::string secretLine = upd::wizard::keyFileLine(pair->secretKey.bytes());
    const std::string secretError = updtool::createExclusive(secretPath, secretLine, 0600);
    std::fill(secretLine.begin(), secretLine.end(), '\0');
    if (!secretError.empty()) {
        return failure("keygen", secretError);
    }
    if (const std::string error =
            updtool::createExclusive(publicPath, upd::wizard::keyFileLine(pair->publicKey), 0644);
        !error.empty()) {
        ::unlink(secretPath.c_str());  // made just now: a key without its .pub is of no use
        return failure("keygen", error);
    }
    std::cout << "wrote " << secretPath << " (the secret key: keep it, never publish it)\n"
              << "wrote " << publicPath << " (ship it as update.pub beside update-wizard)\n";
    return kExitOk;
}

int runSign(const std::vector<std::string>& args) {
    std::string keyPath;
    std::string iniPath;
    if (std::string error; !parseOptionAndFile(args, "--key", keyPath, iniPath, error)) {
        return usageError("sign", error, kSignUsage);
    }
    const upd::wizard::SecretKeyFile key = upd::wizard::readSecretKeyFile(keyPath);
    if (!key.key) {
        return failure("sign", key.error);
    }
    if (key.othersMayRead) {
        std::cerr << "updtool sign: warning: " << keyPath
                  << " can be read by other users; chmod 600 it\n";
    }
    const updtool::ReadResult ini =
        updtool::readWholeFile(iniPath, upd::wizard::kMaxProfileFileBytes);
    if (!ini.bytes) {
        return failure("sign", ini.error);
    }
    const std::string signature = upd::wizard::signatureFileLine(*ini.bytes, *key.key);
    // The signature must hold for the key's own public half before it goes anywhere.
    if (upd::wizard::checkSignature(*ini.bytes, signature, upd::wizard::publicKeyOf(*key.key)) !=
        upd::wizard::SignatureStatus::Valid) {
        return failure("sign", keyPath + " does not make signatures that verify");
    }
    const std::string sigPath = iniPath + ".sig";
    if (const std::string error = updtool::writeBeside(sigPath, signature, 0644); !error.empty()) {
        return failure("sign", error);
    }
    std::cout << "wrote " << sigPath << '\n';
    return kExitOk;
}

int runVerify(const std::vector<std::string>& args) {
    std::string pubPath;
    std::string iniPath;
    if (std::string error; !parseOptionAndFile(args, "--pub", pubPath, iniPath, error)) {
        return usageError("verify", error, kVerifyUsage);
    }
    const upd::wizard::PublicKeyFile key = upd::wizard::readPublicKeyFile(pubPath);
    if (!key.present) {
        return failure("verify", "cannot read " + pubPath + ": No such file or directory");
    }
    if (key.keys.empty()) {
        return failure("verify", key.error);
    }
    const updtool::ReadResult ini =
        updtool::readWholeFile(iniPath, upd::wizard::kMaxProfileFileBytes);
    if (!ini.bytes) {
        return failure("verify", ini.error);
    }
    const std::string sigPath = iniPath + ".sig";
    const updtool::ReadResult sig = updtool::readWholeFile(sigPath, kMaxSignatureFileBytes);
    if (!sig.bytes && !sig.missing) {
        return failure("verify", sig.error);
    }
    const auto status = upd::wizard::checkSignature(*ini.bytes, sig.bytes, key.keys);
    if (status != upd::wizard::SignatureStatus::Valid) {
        return failure("verify", iniPath + ": " + upd::wizard::describe(status));
    }
    // Then Serial and Expires as a wizard with the key judges them, from the same bytes; no
    // application folder here, so no Serial counts as older.
    const auto document =
        upd::wizard::ProfileDocument::parse(*ini.bytes, upd::platform::systemCodePage());
    const upd::wizard::StampCheck stamp = upd::wizard::checkReleaseStamp(
        upd::wizard::readUpdateIni(document).update, upd::wizard::AcceptedSerial{},
        static_cast<std::int64_t>(std::time(nullptr)));
    if (stamp.refusal != upd::wizard::InformationRefusal::None) {
        return failure("verify", iniPath + ": " + upd::platform::printableText(stamp.reason));
    }
    std::cout << iniPath << ": " << upd::wizard::describe(status) << '\n'
              << "serial: " << *stamp.serial << '\n'
              << "expires: " << upd::wizard::expiresText(*stamp.expires) << " UTC\n";
    return kExitOk;
}
