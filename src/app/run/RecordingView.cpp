#include "app/run/RecordingView.h"

namespace plume {

void Replay(const std::vector<TViewCall>& calls, IRunView& view) {
    using K = TViewCall::TKind;
    for (const TViewCall& call : calls) {
        switch (call.Kind) {
            case K::FileCounter:
                view.SetFileCounter(call.Text);
                break;
            case K::FileName:
                view.SetFileName(call.Text);
                break;
            case K::Status:
                view.SetStatus(call.Text);
                break;
            case K::CancelCaption:
                view.SetCancelCaption(call.Text);
                break;
            case K::ProgressMax:
                view.SetProgressMax(call.Value);
                break;
            case K::ProgressPosition:
                view.SetProgressPosition(call.Value);
                break;
            case K::Plain:
                view.ShowPlainMessage(call.Text);
                break;
            case K::Warning:
                view.ShowWarning(call.Text);
                break;
            case K::Error:
                view.ShowError(call.Text);
                break;
            case K::Pump:
                view.ProcessMessages();
                break;
            case K::ClearPreview:
                view.ClearPreview();
                break;
            case K::Preview:
                view.ShowPreview(call.Bytes);
                break;
        }
    }
}

}  // namespace plume
