# The median pitch of a recording over its voiced frames, as Praat measures it (sampled.py).
#
#   praat --run median_pitch.praat FILE FLOOR CEILING
#
# prints "MEDIAN_HZ VOICED_FRAMES FRAMES" (MEDIAN_HZ is --undefined-- when no frame is voiced).
# Channels are averaged first, as harmplot does. To Pitch is Praat's autocorrelation method
# with its default settings and an automatic time step (0.75 / FLOOR).
form Median pitch
    sentence file
    real floor 75
    real ceiling 600
endform
sound = Read from file: file$
channels = Get number of channels
if channels > 1
    mono = Convert to mono
endif
pitch = To Pitch: 0, floor, ceiling
median = Get quantile: 0, 0, 0.5, "Hertz"
voiced = Count voiced frames
frames = Get number of frames
writeInfoLine: fixed$(median, 6), " ", voiced, " ", frames
