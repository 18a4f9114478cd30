// Wizard page 2, `frmUpdate2`: downloads the update information (the chosen server's
// address followed by the information file's path) into update.ini in the application
// folder, shows its progress, and moves on to page 3 by itself when the transfer is
// complete. A failed transfer (a refused connection, a file missing on the server, a
// proxy's refusal, 30 seconds without data) is shown in the frame in the user's language
// (failure_text.h chooses the text), with a button back to page 1 to choose another server;
// Back and Cancel stay, Next stays disabled, and nothing received is analysed.
#pragma once

#include <QTimer>
#include <array>
#include <memory>

#include "wizard/page.h"

class QLabel;
class QGroupBox;

namespace upd::controls {
class SmallBar;
}
namespace upd::net {
class DataConnection;
}

namespace upd::wizard {

class frmUpdate2 : public Page {
    Q_OBJECT

  public:
    // A transfer that receives nothing for this long has stalled.
    static constexpr int kStallTimeoutMs = 30'000;

    explicit frmUpdate2(Wizard& wizard);
    ~frmUpdate2() override;

    void Form_Load() override;
    void Form_Unload() override;
    void Next_Button_Click();
    void Back_Button_Click();
    // After a failure: the next server of page 1's list, and its information.
    void NextServer_Button_Click();
    // What the last failed reply's Retry-After asked for, in seconds; -1 for none.
    std::int64_t retryAfterSeconds() const { return m_retryAfter; }

    void RemoteFile_BytesReceived(std::int64_t lByteCount);
    void RemoteFile_Disconnected();
    void RemoteFile_DownloadFailed(std::int32_t Why);

    // The download object while a transfer runs; nullptr before and after.
    net::DataConnection* RemoteFile() const { return m_remoteFile.get(); }
    // True once the transfer has failed and the failure is shown.
    bool failed() const { return m_failed; }
    // Tests shorten the stall time-out.
    void setStallTimeoutMs(int ms);

    QGroupBox* Frame1 = nullptr;
    QLabel* Label2 = nullptr;
    std::array<QLabel*, 4> Label3{};  // 0: hint under the frame; 1-3: "50%", "100%", "0%"
    controls::SmallBar* SmallBar1 = nullptr;
    QLabel* FailureText = nullptr;         // in the frame, below the bar; hidden until a failure
    QPushButton* Server_Button = nullptr;  // under the frame; shown with a download's failure
    QPushButton* NextServer_Button = nullptr;  // beside it: the next server of the list
    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;

  private:
    void startDownload();
    void startSignatureDownload();
    void signatureDone();
    void releaseDownload();
    // Ends the transfer as failed and shows `detail` (empty for none) under string 157.
    void showFailure(int reasonId, const QString& detail);

    std::unique_ptr<net::DataConnection> m_remoteFile;
    std::string m_target;
    bool m_socketsStarted = false;
    bool m_failed = false;
    // The first failure of the transfer; the final event decides what happens.
    std::int32_t m_failureWhy = -1;
    QTimer m_stallTimer;
    bool m_signatureStage = false;  // fetching the information's signature
    std::int64_t m_retryAfter = -1;
};

}  // namespace upd::wizard
