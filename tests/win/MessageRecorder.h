// Records the launcher's message boxes instead of showing them, and answers
// them from a queue (IDOK when the queue is empty).
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
    std::vector<RecordedBox> boxes;
    std::deque<int> answers;
};
