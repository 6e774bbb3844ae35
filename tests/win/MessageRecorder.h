// Records the launcher's message boxes instead of showing them, and answers
// them from a queue (IDOK when the queue is empty). The recorder is the message
// box seam for as long as it lives, and gives the seam back to whatever held it
// before when it goes, however the test ends.
#pragma once
#include <deque>
#include <string>
#include <vector>

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned style;
};

class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    std::vector<RecordedBox> boxes;
    std::deque<int> answers;

private:
    MessageRecorder* previous;
};

// The system's own text for an error code, as reportSystemError shows it.
std::string systemText(unsigned long code);
