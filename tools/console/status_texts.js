// The agent's statuses and failure codes in words.

export const statusTexts = {
  0: 'Connected; no unit chosen',
  1: 'Unit not attached',
  2: 'Unit attached',
  3: 'Working',
  4: 'Finished',
  5: 'Failed',
};

export const codeMeanings = {
  100: 'an internal failure in the agent',
  200: 'the unit could not be opened for the course update',
  201: 'a file on the unit could not be read',
  300: 'a request to the cloud service failed',
  301: 'the cloud service answered with its status 214',
  400: 'an answer of the cloud service was malformed or an error',
  500: 'the cloud service answered with its status 218',
  600: 'writing the course or a downloaded file to the unit failed',
  602: 'confirming the full update to the cloud service failed',
  604: 'the course data does not fit this unit variant',
  605: 'the cloud service rejected the unit\'s serial number',
  700: 'the score files were not written to the unit',
  800: 'the article files were not written to the unit',
  900: 'the agent does not know this model',
  1000: 'the unit refused or answered wrongly',
  1100: 'the cloud service reports a course sync index problem',
  1101: 'repairing the course sync index failed',
  1200: 'the command text was invalid',
  1300: 'choose a unit first',
  1400: 'the unit, or a file on it, was not found',
  1500: 'the operation was interrupted',
  1600: 'an HTTP exchange failed',
  1700: 'ejecting the unit failed',
};

// The words for a status object of the agent.
export function describeStatus(status) {
  const words = statusTexts[status.Status] ?? `Status ${status.Status}`;
  if (status.Status === 0) {
    return `${words} (agent ${status.Version})`;
  }
  if (status.Code) {
    const meaning = codeMeanings[status.Code] ?? 'unknown code';
    return `${words}: code ${status.Code}, ${meaning}`;
  }
  if (status.Status === 4 && status.EjectNeeded) {
    return `${words}; eject the unit before unplugging it`;
  }
  return words;
}

// What each long command logs on its way, in order, and how the console calls the step.
export const milestones = {
  UpdateCourse: [
    ['Course: ', 'Opening the unit'],
    ['DeviceCourseDataDetails/', 'Asking the cloud for the course'],
    ['after parse', 'Course received'],
    ['before getStorage', 'Reading the unit\'s storage'],
    ['Sector: ', 'Writing flash sectors'],
    ['CourseSyncIndexRestore/', 'Repairing the sync index'],
    ['Updated and downloaded courses', 'Checking what was written'],
    ['ProductEphemerisLogList/', 'Fetching ephemeris files'],
  ],
  FullUpdate: [
    ['DeviceFullDataDetails/', 'Asking the cloud what is new'],
    ['download_file: from', 'Downloading files'],
    ['Free space on device', 'Installing the course file'],
    ['DeviceFullDataConfirm/', 'Confirming the new version'],
    ['ProductEphemerisLogList/', 'Fetching ephemeris files'],
  ],
  RestoreDevice: [
    ['DeviceRestore/', 'Asking the cloud for the unit\'s files'],
    ['download_file: from', 'Downloading files'],
    ['Free space on device', 'Installing the course file'],
    ['DeviceFullDataConfirm/', 'Confirming the version'],
  ],
};
