#include "app/image_refusal.h"

#include <cstdio>

#include "image/fw_image.h"
#include "platform/paths.h"

std::string ImageRefusalText(const IMAGE_FILE_CHECK& check, const char* path) {
  const char* name = PathFileNamePart(path);
  char text[600];
  switch (check.problem) {
    case ImageFileProblem::kPathTooLong:
      snprintf(text, sizeof text,
               "Error, the path of the image file is longer than %u characters, the most this "
               "utility can use! Move the file to a shorter path.",
               static_cast<unsigned>(kMaxImagePathLen));
      break;
    case ImageFileProblem::kMissing:
      snprintf(text, sizeof text, "Error, file %s doesn't exist!", name);
      break;
    case ImageFileProblem::kNotImage:
      snprintf(text, sizeof text, "Error, %s is not a valid firmware image!", name);
      break;
    case ImageFileProblem::kUnreadable:
      snprintf(text, sizeof text, "Error, %s cannot be read!", name);
      break;
    case ImageFileProblem::kTruncated:
      snprintf(text, sizeof text,
               "Error, %s is not a valid firmware image: the image at offset %u runs past the end "
               "of the file!",
               name, static_cast<unsigned>(check.truncatedOffset));
      break;
    case ImageFileProblem::kNoImages:
      snprintf(text, sizeof text, "Error, %s holds no image to download!", name);
      break;
    case ImageFileProblem::kTooManyImages:
      snprintf(text, sizeof text,
               "Error, %s holds %u images, more than the %u this utility can download!", name,
               static_cast<unsigned>(check.images), static_cast<unsigned>(kMaxImages));
      break;
    case ImageFileProblem::kNone:
      text[0] = '\0';
      break;
  }
  return text;
}

std::string LongSettingsFileText() {
  IMAGE_FILE_CHECK check{};
  check.problem = ImageFileProblem::kPathTooLong;
  return ImageRefusalText(check, "");
}
