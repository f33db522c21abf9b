"""The measurements the end-to-end checks rely on, on signals made here.

usage: /usr/bin/python3 -m unittest discover -s tests/e2e -p '*_test.py'
"""

import unittest

import numpy as np

import sound

RATE = sound.RATE


def voice(seconds, seed=1):
    """Noise shaped like speech: syllables of varying loudness."""
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    envelope = np.abs(np.sin(np.arange(n) * np.pi * 4 / RATE)) * 8000
    return rng.standard_normal(n) * envelope


def silence(seconds):
    return np.zeros(int(seconds * RATE))


class BestMatchTest(unittest.TestCase):
    def test_finds_a_quieter_copy_inside_a_longer_signal(self):
        phrase = voice(2.0)
        match, offset = sound.best_match(phrase, 0.25 * phrase[RATE // 4 :])
        self.assertGreater(match, 0.999)
        self.assertEqual(offset, RATE // 4)
        faster = sound.faster(phrase, 1.5)
        self.assertGreater(sound.best_match(sound.faster(phrase, 1.5), faster)[0], 0.999)

    def test_what_is_not_the_phrase_does_not_match(self):
        phrase = voice(1.0)
        cases = (
            ("another voice", voice(2.0, seed=1), voice(1.5, seed=2), 0.2),
            # Something played after the take lowers the match.
            ("more than the take", phrase, np.concatenate((phrase, voice(1.0, seed=3))), 0.8),
            ("another speed", voice(2.0), sound.faster(voice(2.0), 1.5), 0.5),
            ("silence", phrase, silence(0.5), 1e-9),
        )
        for name, target, take, below in cases:
            with self.subTest(name):
                self.assertLess(sound.best_match(target, take)[0], below)


class PiecewiseMatchTest(unittest.TestCase):
    def test_a_take_that_slipped_still_matches(self):
        # The output ran dry for 2 ms in a pause: the rest comes that much
        # later. Whichever part is the longer sets the match as a whole.
        for before, after in ((0.5, 2.0), (2.0, 0.5)):
            with self.subTest(before=before, after=after):
                phrase = np.concatenate((voice(before), silence(0.3), voice(after, seed=4)))
                cut = int((before + 0.1) * RATE)
                take = np.concatenate((phrase[:cut], silence(0.002), phrase[cut:]))
                whole, offset = sound.best_match(phrase, take)
                match, slip = sound.piecewise_match(phrase, take, offset)
                self.assertLess(whole, 0.9)
                self.assertGreater(match, 0.99)
                self.assertAlmostEqual(slip, 0.002 * RATE, delta=1)

    def test_another_voice_matches_in_no_piece(self):
        phrase, other = voice(2.0, seed=1), voice(2.0, seed=2)
        _, offset = sound.best_match(phrase, other)
        self.assertLess(sound.piecewise_match(phrase, other, offset)[0], 0.2)

    def test_a_fit_before_the_phrase_starts_is_no_match_not_an_error(self):
        # best_match may place a take that starts early before the phrase.
        phrase = voice(1.0)
        take = np.concatenate((voice(0.3, seed=5), phrase))
        match, _ = sound.piecewise_match(phrase, take, -int(0.3 * RATE) - 3 * sound.FRAME)
        self.assertLess(match, 0.9)

    def test_pieces_out_of_order_do_not_match(self):
        phrase = voice(2.0)
        half = len(phrase) // 2
        swapped = np.concatenate((phrase[half:], phrase[:half]))
        _, offset = sound.best_match(phrase, swapped)
        self.assertLess(sound.piecewise_match(phrase, swapped, offset)[0], 0.6)


class CloseGapsTest(unittest.TestCase):
    def test_moments_of_digital_silence_are_taken_out(self):
        phrase = sound.without_silence(np.concatenate((voice(0.5), silence(0.2), voice(0.5))))
        take = np.concatenate((phrase[:1000], silence(0.01), phrase[1000:]))
        closed, count, total = sound.close_gaps(take)
        self.assertEqual((count, total), (1, 441))
        np.testing.assert_array_equal(closed, phrase)


class PlayedSpeedTest(unittest.TestCase):
    def test_samples_a_block_gives_at_each_speed(self):
        # The per-block counts the program's resampling is known for.
        for speed, count in ((0.5, 1760), (1.0, 880), (1.5, 587), (2.2, 400)):
            with self.subTest(speed=speed):
                self.assertAlmostEqual(sound.BLOCK / sound.played_speed(speed), count, places=6)


class SoundsTest(unittest.TestCase):
    def test_pauses_shorter_than_a_second_stay_inside_one_sound(self):
        x = np.concatenate((silence(1), voice(1), silence(0.6), voice(1), silence(1)))
        parts = sound.sounds(x)
        self.assertEqual(len(parts), 1)
        first, end = parts[0]
        self.assertAlmostEqual(first / RATE, 1.0, delta=0.011)
        self.assertAlmostEqual(end / RATE, 3.6, delta=0.011)

    def test_counts_sounds_apart_after_a_long_pause_clicks_too(self):
        click = silence(2)
        click[RATE] = 20000
        for x, count in (
            (np.concatenate((voice(1), silence(1.5), voice(0.5))), 2),
            (click, 1),
            (silence(2), 0),
        ):
            self.assertEqual(len(sound.sounds(x)), count)


class LoudEdgesTest(unittest.TestCase):
    def test_edges_of_the_loud_stretch_to_within_a_block(self):
        x = np.concatenate((silence(1), np.full(RATE, 2000.0), np.full(RATE, 1000.0)))
        first, end = sound.loud_edges(x, 1638.4)
        self.assertLessEqual(abs(first - RATE), sound.BLOCK)
        self.assertLessEqual(abs(end - 2 * RATE), sound.BLOCK)

    def test_nothing_loud_enough(self):
        self.assertIsNone(sound.loud_edges(np.full(RATE, 1638.0), 1638.4))


if __name__ == "__main__":
    unittest.main()
